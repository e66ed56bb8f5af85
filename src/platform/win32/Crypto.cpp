// ECDSA P-256 / SHA-256 verification through CNG. bcrypt.dll is loaded from the system
// folder when first needed instead of being imported: the launcher imports only a few core
// libraries, and a bcrypt.dll dropped beside it must never be the one that says yes.
#include "platform/win32/Crypto.h"

#include "platform/win32/SystemLibraries.h"

#include <cstring>

#include <windows.h>
#include <bcrypt.h>

namespace platform::win32 {
namespace {

struct Cng {
    decltype(&::BCryptOpenAlgorithmProvider) openAlgorithm = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) closeAlgorithm = nullptr;
    decltype(&::BCryptImportKeyPair) importKeyPair = nullptr;
    decltype(&::BCryptDestroyKey) destroyKey = nullptr;
    decltype(&::BCryptCreateHash) createHash = nullptr;
    decltype(&::BCryptHashData) hashData = nullptr;
    decltype(&::BCryptFinishHash) finishHash = nullptr;
    decltype(&::BCryptDestroyHash) destroyHash = nullptr;
    decltype(&::BCryptVerifySignature) verifySignature = nullptr;
    bool loaded = false;
};

template <class F>
void Bind(HMODULE dll, const char* name, F& fn, bool& ok) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
    ok = ok && fn != nullptr;
}

const Cng& LoadCng() {
    static const Cng cng = [] {
        Cng c;
        auto dll = static_cast<HMODULE>(LoadSystemLibrary("bcrypt.dll"));
        if (!dll) return c;
        bool ok = true;
        Bind(dll, "BCryptOpenAlgorithmProvider", c.openAlgorithm, ok);
        Bind(dll, "BCryptCloseAlgorithmProvider", c.closeAlgorithm, ok);
        Bind(dll, "BCryptImportKeyPair", c.importKeyPair, ok);
        Bind(dll, "BCryptDestroyKey", c.destroyKey, ok);
        Bind(dll, "BCryptCreateHash", c.createHash, ok);
        Bind(dll, "BCryptHashData", c.hashData, ok);
        Bind(dll, "BCryptFinishHash", c.finishHash, ok);
        Bind(dll, "BCryptDestroyHash", c.destroyHash, ok);
        Bind(dll, "BCryptVerifySignature", c.verifySignature, ok);
        c.loaded = ok;
        return c;
    }();
    return cng;
}

// Closes the algorithm, key and hash handles on every path.
struct Handles {
    const Cng& cng;
    BCRYPT_ALG_HANDLE sha = nullptr, ecdsa = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    ~Handles() {
        if (hash) cng.destroyHash(hash);
        if (key) cng.destroyKey(key);
        if (sha) cng.closeAlgorithm(sha, 0);
        if (ecdsa) cng.closeAlgorithm(ecdsa, 0);
    }
};

bool Ok(NTSTATUS status) { return status >= 0; }

bool Sha256(Handles& h, const std::string& message, UCHAR (&digest)[32]) {
    const Cng& c = h.cng;
    if (!Ok(c.openAlgorithm(&h.sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    if (!Ok(c.createHash(h.sha, &h.hash, nullptr, 0, nullptr, 0, 0))) return false;
    // Hash in pieces: a ULONG count per call, whatever the program's size.
    const size_t kPiece = 1 << 20;
    for (size_t at = 0; at < message.size(); at += kPiece) {
        const size_t n = message.size() - at < kPiece ? message.size() - at : kPiece;
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(message.data() + at));
        if (!Ok(c.hashData(h.hash, bytes, static_cast<ULONG>(n), 0))) return false;
    }
    return Ok(c.finishHash(h.hash, digest, sizeof digest, 0));
}

}  // namespace

bool VerifyP256Sha256Cng(const std::string& point, const std::string& message,
                         const std::string& signature) {
    if (point.size() != 65 || point[0] != '\x04' || signature.size() != 64) return false;
    const Cng& cng = LoadCng();
    if (!cng.loaded) return false;
    Handles h{cng};
    UCHAR digest[32];
    if (!Sha256(h, message, digest)) return false;

    // ECCPUBLIC blob: the header, then X and Y (the point without its 04).
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, point.data() + 1, 64);
    if (!Ok(cng.openAlgorithm(&h.ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    if (!Ok(cng.importKeyPair(h.ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &h.key, blob, sizeof blob, 0)))
        return false;
    UCHAR rs[64];
    memcpy(rs, signature.data(), sizeof rs);
    return Ok(cng.verifySignature(h.key, nullptr, digest, sizeof digest, rs, sizeof rs, 0));
}

}  // namespace platform::win32
