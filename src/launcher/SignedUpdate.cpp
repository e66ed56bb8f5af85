#include "launcher/SignedUpdate.h"

#include "launcher/Release.h"
#include "signing/Signature.h"

namespace {

bool Verified(const StarterNames& n, const std::string& publicKey, const std::string& manifestBytes,
              const std::function<void(const std::string& url)>& fetch, ReleaseManifest* out) {
    std::string point;
    if (!signing::P256PublicKeyFromDer(publicKey, point)) return false;
    auto& fs = platform::Fs();
    fs.DeleteFile(n.signature);
    if (fs.FileExists(n.signature)) return false;
    fetch(n.signatureUrl);
    std::string der, rs;
    // A DER P-256 signature is at most 72 bytes; anything much larger is not one.
    if (!ReadSmallFile(n.signature, der, 256, false) || !signing::P256SignatureFromDer(der, rs)) return false;
    if (!platform::Sys().VerifyP256Sha256(point, manifestBytes, rs)) return false;
    // Parsed only once it is known to be the vendor's: what an attacker sends never reaches
    // the parser.
    return !out || ParseReleaseManifest(manifestBytes, *out);
}

}  // namespace

bool VerifyManifest(const StarterNames& n, const std::string& publicKey,
                    const std::string& manifestBytes,
                    const std::function<void(const std::string& url)>& fetch, ReleaseManifest& out) {
    bool accepted = false;
    try {
        ReleaseManifest parsed;
        accepted = Verified(n, publicKey, manifestBytes, fetch, &parsed);
        if (accepted) out = parsed;
    } catch (...) {
        accepted = false;
    }
    platform::Fs().DeleteFile(n.signature);
    return accepted;
}

bool VerifySignature(const StarterNames& n, const std::string& publicKey, const std::string& manifestBytes,
                     const std::function<void(const std::string& url)>& fetch) {
    bool accepted = false;
    try {
        accepted = Verified(n, publicKey, manifestBytes, fetch, nullptr);
    } catch (...) {
        accepted = false;
    }
    platform::Fs().DeleteFile(n.signature);
    return accepted;
}
