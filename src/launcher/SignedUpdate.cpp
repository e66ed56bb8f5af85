#include "launcher/SignedUpdate.h"

#include <memory>

#include "signing/Sha256.h"
#include "signing/Signature.h"

namespace {

// A small file whole (a signature), or false when it cannot be read or is over `limit`.
bool ReadSmall(const std::string& path, std::string& bytes, size_t limit) {
    auto file = platform::Fs().Open(path, platform::OpenMode::Read);
    if (!file) return false;
    bytes.clear();
    char buf[4096];
    for (;;) {
        uint32_t got = 0;
        if (!file->Read(buf, sizeof buf, got)) return false;
        if (got == 0) break;
        bytes.append(buf, got);
        if (bytes.size() > limit) return false;
    }
    return file->Close();
}

bool Verified(const StarterNames& n, const std::string& publicKey, const std::string& manifestBytes,
              const std::function<void(const std::string& url)>& fetch, ReleaseManifest& out) {
    std::string point;
    if (!signing::P256PublicKeyFromDer(publicKey, point)) return false;
    auto& fs = platform::Fs();
    fs.DeleteFile(n.signature);
    if (fs.FileExists(n.signature)) return false;
    fetch(n.signatureUrl);
    std::string der, rs;
    // A DER P-256 signature is at most 72 bytes; anything much larger is not one.
    if (!ReadSmall(n.signature, der, 256) || !signing::P256SignatureFromDer(der, rs)) return false;
    if (!platform::Sys().VerifyP256Sha256(point, manifestBytes, rs)) return false;
    // Parsed only once it is known to be the vendor's: what an attacker sends never reaches
    // the parser.
    return ParseReleaseManifest(manifestBytes, out);
}

}  // namespace

std::string UpdatePublicKey() {
#ifdef UPDATE_PUBLIC_KEY_DER
    std::string der;
    // Checked at configure time; an unreadable key here accepts nothing.
    return signing::FromHex(UPDATE_PUBLIC_KEY_DER, der) && !der.empty() ? der : std::string("-");
#else
    return std::string();
#endif
}

bool VerifyManifest(const StarterNames& n, const std::string& publicKey,
                    const std::string& manifestBytes,
                    const std::function<void(const std::string& url)>& fetch, ReleaseManifest& out) {
    bool accepted = false;
    try {
        ReleaseManifest parsed;
        accepted = Verified(n, publicKey, manifestBytes, fetch, parsed);
        if (accepted) out = parsed;
    } catch (...) {
        accepted = false;
    }
    platform::Fs().DeleteFile(n.signature);
    return accepted;
}

bool MatchesManifest(platform::File& file, const ReleaseManifest& m) {
    if (file.Size() != static_cast<int64_t>(m.size)) return false;
    signing::Sha256 hash;
    uint64_t total = 0;
    auto buf = std::make_unique<char[]>(65536);
    for (;;) {
        uint32_t got = 0;
        if (!file.Read(buf.get(), 65536, got)) return false;
        if (got == 0) break;
        total += got;
        if (total > m.size) return false;
        hash.Update(buf.get(), got);
    }
    return total == m.size && signing::ToHex(hash.Finish()) == m.sha256;
}
