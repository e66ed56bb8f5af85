#pragma once
// What the publish command needs from a cryptography library and the file system: one
// implementation with OpenSSL's libcrypto (KeysOpenSsl.cpp), one with Windows CNG
// (KeysCng.cpp). Every function reports failure with a text in `error`, never throws.
#include <string>

namespace publish {

// A new ECDSA P-256 key pair: PKCS #8 "PRIVATE KEY" PEM text and "PUBLIC KEY" PEM text.
bool GenerateKeyPair(std::string& privatePem, std::string& publicPem, std::string& error);

// The DER ECDSA signature with SHA-256 over `message`, made with the P-256 private key in
// `privatePem` (already checked to be one).
bool Sign(const std::string& privatePem, const std::string& message, std::string& der,
          std::string& error);

// Creates (or truncates) `path` so that only the current user can read it, and writes `bytes`.
bool WriteOwnerOnly(const std::string& path, const std::string& bytes, std::string& error);

// Puts the file `from` in place of `to` in one step, replacing an existing `to`.
bool PutInPlace(const std::string& from, const std::string& to, std::string& error);

}  // namespace publish
