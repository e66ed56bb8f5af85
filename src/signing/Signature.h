#pragma once
// ECDSA P-256 keys and signatures in the encodings the vendor's tools write: PEM and DER as
// OpenSSL writes them, and the raw forms the platform's cryptography takes (the 65-byte
// uncompressed point 04||X||Y, the 64-byte r||s). Portable: parsing only, no arithmetic.
//
// Every parser is strict DER: exact lengths, minimal length and integer encodings, no bytes
// after the structure. Whatever a server sends goes through here, so "almost right" is wrong.
#include <string>

namespace signing {

inline constexpr size_t kPointSize = 65;      // 04 || X || Y
inline constexpr size_t kSignatureSize = 64;  // r || s, 32 bytes each, big-endian
inline constexpr size_t kScalarSize = 32;

// The body of the first "-----BEGIN <label>-----" ... "-----END <label>-----" block, base64
// decoded (line breaks and blanks between base64 characters allowed, nothing else). False
// when there is no such block or its base64 is malformed.
bool PemToDer(const std::string& pem, const std::string& label, std::string& der);
// A PEM block with 64-character lines and "\n" line ends.
std::string DerToPem(const std::string& der, const std::string& label);

// SubjectPublicKeyInfo of an id-ecPublicKey on prime256v1 with an uncompressed point; the
// point (65 bytes) on success. Any other algorithm, curve or point form is refused.
bool P256PublicKeyFromDer(const std::string& spki, std::string& point);
// The same from a "PUBLIC KEY" PEM file's text.
bool P256PublicKeyFromPem(const std::string& pem, std::string& point);
std::string P256PublicKeyToDer(const std::string& point);
std::string P256PublicKeyToPem(const std::string& point);

// A private key from "PRIVATE KEY" (PKCS #8) or "EC PRIVATE KEY" (SEC 1) PEM text: the
// secret scalar d (32 bytes) and the public point, which must be present in the file.
bool P256PrivateKeyFromPem(const std::string& pem, std::string& d, std::string& point);
// PKCS #8 "PRIVATE KEY" PEM text, as `openssl genpkey` writes it.
std::string P256PrivateKeyToPem(const std::string& d, const std::string& point);

// ECDSA-Sig-Value (SEQUENCE of two INTEGERs) -> r||s. Refuses r or s that is zero or not
// below the group order n.
bool P256SignatureFromDer(const std::string& der, std::string& rs);
// r||s -> ECDSA-Sig-Value, minimal integers.
std::string P256SignatureToDer(const std::string& rs);

// Lower- or upper-case hex digits, two per byte; false for anything else.
bool FromHex(const std::string& hex, std::string& bytes);

}  // namespace signing
