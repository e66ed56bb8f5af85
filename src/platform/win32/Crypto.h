#pragma once
// Signature checks with the system's CNG (bcrypt.dll), for the System service.
#include <string>

namespace platform::win32 {

// True when `signature` (r||s, 64 bytes) is a valid ECDSA P-256 signature with SHA-256 over
// `message` for the public key `point` (04||X||Y, 65 bytes). False for anything else,
// including a system without CNG.
bool VerifyP256Sha256Cng(const std::string& point, const std::string& message,
                         const std::string& signature);

}  // namespace platform::win32
