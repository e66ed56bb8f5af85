// The doubles' signature check: a real ECDSA P-256 / SHA-256 verification with OpenSSL's
// libcrypto (native builds only), so tests can sign with the same library or with openssl.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "doubles/FakeSystem.h"

namespace platform::fake {
namespace {

// SubjectPublicKeyInfo of a P-256 key: this fixed header, then the 65-byte point.
const std::string kSpkiHeader(
    "\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07"
    "\x03\x42\x00",
    26);

struct OsslFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

bool Verify(const std::string& point, const std::string& message, const std::string& rs) {
    if (point.size() != 65 || rs.size() != 64) return false;
    const std::string spki = kSpkiHeader + point;
    auto* p = reinterpret_cast<const unsigned char*>(spki.data());
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())), EVP_PKEY_free);
    if (!key) return false;

    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), ECDSA_SIG_free);
    auto* bytes = reinterpret_cast<const unsigned char*>(rs.data());
    BIGNUM* r = BN_bin2bn(bytes, 32, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + 32, 32, nullptr);
    if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    if (derSize <= 0) return false;
    std::unique_ptr<unsigned char, OsslFree> derOwner(der);

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), der, static_cast<size_t>(derSize),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

}  // namespace

bool FakeSystem::VerifyP256Sha256(const std::string& point, const std::string& message,
                                    const std::string& signature) {
    if (Fails("VerifyP256Sha256", std::to_string(message.size()) + " bytes", 0)) return false;
    return Verify(point, message, signature);
}

}  // namespace platform::fake
