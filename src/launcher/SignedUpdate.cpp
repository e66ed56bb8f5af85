#include "launcher/SignedUpdate.h"

#include "platform/Platform.h"
#include "signing/Signature.h"

namespace {

// The whole file, or false when it cannot be read to its end.
bool ReadAll(const std::string& path, std::string& bytes) {
    auto file = platform::Fs().Open(path, platform::OpenMode::Read);
    if (!file) return false;
    bytes.clear();
    char buf[65536];
    for (;;) {
        uint32_t got = 0;
        if (!file->Read(buf, sizeof buf, got)) return false;
        if (got == 0) break;
        bytes.append(buf, got);
    }
    return file->Close();
}

bool Verified(const StarterNames& n, const std::string& publicKey,
              const std::function<void(const std::string& url)>& fetch) {
    std::string point;
    if (!signing::P256PublicKeyFromDer(publicKey, point)) return false;
    // A signature left from an earlier run must not stand in for one that did not arrive.
    auto& fs = platform::Fs();
    fs.DeleteFile(n.signature);
    if (fs.FileExists(n.signature)) return false;
    fetch(n.signatureUrl);
    std::string der, rs, stamp, program;
    if (!ReadAll(n.signature, der) || !signing::P256SignatureFromDer(der, rs)) return false;
    // The stamp and the program are read once and checked as read: what is installed and
    // recorded afterwards is what was signed, as nothing else writes to this folder.
    if (!ReadAll(n.serverStamp, stamp) || !ReadAll(n.newProgram, program)) return false;
    return platform::Sys().VerifyP256Sha256(point, stamp + program, rs);
}

}  // namespace

bool SignatureAccepted(const StarterNames& n, const std::string& publicKey,
                       const std::function<void(const std::string& url)>& fetch) {
    if (publicKey.empty()) return true;
    bool accepted = false;
    try {
        accepted = Verified(n, publicKey, fetch);
    } catch (...) {
        accepted = false;
    }
    auto& fs = platform::Fs();
    fs.DeleteFile(n.signature);
    if (!accepted) fs.DeleteFile(n.newProgram);
    return accepted;
}
