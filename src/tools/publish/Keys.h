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

// False only when nothing at all is at `path`, not even a link that leads nowhere; true also
// when that cannot be told (a folder that cannot be read).
bool PathTaken(const std::string& path);

// Creates the new file `path`, failing when anything is there already (a link is never
// followed), writes `bytes` and syncs them to disk. `ownerOnly`: only the current user can
// read it.
bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly,
                  std::string& error);

// Renames `from` to `to` in one step and syncs the change. `replace`: an existing `to` (a
// link itself, not what it leads to) is replaced; else the rename fails when anything is at
// `to`.
bool PutInPlace(const std::string& from, const std::string& to, bool replace, std::string& error);

}  // namespace publish
