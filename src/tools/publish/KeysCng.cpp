// The publish command's keys and files with Windows CNG (bcrypt) and the ...A file calls.
#include <cstdio>
#include <cstring>
#include <vector>

#include <windows.h>
#include <bcrypt.h>

#include "signing/Signature.h"
#include "tools/publish/Keys.h"

namespace publish {
namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

std::string StatusText(const char* what, NTSTATUS status) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (status 0x%08lX)", what, static_cast<unsigned long>(status));
    return text;
}

std::string Win32Text(const std::string& what) {
    return what + " (error " + std::to_string(::GetLastError()) + ")";
}

// Algorithm and key handles closed on every path.
struct Ecdsa {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    ~Ecdsa() {
        if (key) ::BCryptDestroyKey(key);
        if (alg) ::BCryptCloseAlgorithmProvider(alg, 0);
    }
};

bool Sha256(const std::string& message, UCHAR (&digest)[32], std::string& error) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS st = ::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (Ok(st)) st = ::BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
    const size_t kPiece = 1 << 20;
    for (size_t at = 0; Ok(st) && at < message.size(); at += kPiece) {
        const size_t n = message.size() - at < kPiece ? message.size() - at : kPiece;
        st = ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data() + at)),
                              static_cast<ULONG>(n), 0);
    }
    if (Ok(st)) st = ::BCryptFinishHash(hash, digest, sizeof digest, 0);
    if (hash) ::BCryptDestroyHash(hash);
    if (alg) ::BCryptCloseAlgorithmProvider(alg, 0);
    if (!Ok(st)) error = StatusText("cannot hash", st);
    return Ok(st);
}

}  // namespace

bool GenerateKeyPair(std::string& privatePem, std::string& publicPem, std::string& error) {
    Ecdsa e;
    NTSTATUS st = ::BCryptOpenAlgorithmProvider(&e.alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (Ok(st)) st = ::BCryptGenerateKeyPair(e.alg, &e.key, 256, 0);
    if (Ok(st)) st = ::BCryptFinalizeKeyPair(e.key, 0);
    ULONG size = 0;
    if (Ok(st)) st = ::BCryptExportKey(e.key, nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0);
    std::vector<UCHAR> blob(size);
    if (Ok(st)) st = ::BCryptExportKey(e.key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size, &size, 0);
    // ECCPRIVATE blob: the header, then X, Y and d, 32 bytes each.
    const size_t header = sizeof(BCRYPT_ECCKEY_BLOB);
    if (!Ok(st) || size != header + 96) {
        error = StatusText("cannot make a key", st);
        return false;
    }
    const auto* p = reinterpret_cast<const char*>(blob.data()) + header;
    const std::string point = std::string(1, '\x04') + std::string(p, 64);
    privatePem = signing::P256PrivateKeyToPem(std::string(p + 64, 32), point);
    publicPem = signing::P256PublicKeyToPem(point);
    SecureZeroMemory(blob.data(), blob.size());
    return true;
}

bool Sign(const std::string& privatePem, const std::string& message, std::string& der,
          std::string& error) {
    std::string d, point;
    if (!signing::P256PrivateKeyFromPem(privatePem, d, point)) {
        error = "not a P-256 private key";
        return false;
    }
    UCHAR digest[32];
    if (!Sha256(message, digest, error)) return false;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data() + 1, 64);
    std::memcpy(blob.data() + sizeof header + 64, d.data(), 32);
    Ecdsa e;
    NTSTATUS st = ::BCryptOpenAlgorithmProvider(&e.alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (Ok(st))
        st = ::BCryptImportKeyPair(e.alg, nullptr, BCRYPT_ECCPRIVATE_BLOB, &e.key, blob.data(),
                                   static_cast<ULONG>(blob.size()), 0);
    SecureZeroMemory(blob.data(), blob.size());
    UCHAR rs[64];
    ULONG got = 0;
    if (Ok(st)) st = ::BCryptSignHash(e.key, nullptr, digest, sizeof digest, rs, sizeof rs, &got, 0);
    if (!Ok(st) || got != sizeof rs) {
        error = StatusText("cannot sign", st);
        return false;
    }
    der = signing::P256SignatureToDer(std::string(reinterpret_cast<const char*>(rs), sizeof rs));
    return true;
}

bool PathTaken(const std::string& path) {
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD e = ::GetLastError();
    return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly,
                  std::string& error) {
    // A protected DACL with one entry, the current user: nothing inherited from the folder.
    std::vector<BYTE> user, aclBytes;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, FALSE};
    if (ownerOnly) {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
            error = Win32Text("cannot read the current user");
            return false;
        }
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size ? size : 1);
        const bool haveUser = ::GetTokenInformation(token, TokenUser, user.data(), size, &size) != FALSE;
        ::CloseHandle(token);
        if (!haveUser) {
            error = Win32Text("cannot read the current user");
            return false;
        }
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        aclBytes.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        auto* acl = reinterpret_cast<PACL>(aclBytes.data());
        if (!::InitializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
            !::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) ||
            !::SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            error = Win32Text("cannot make the file's access list");
            return false;
        }
        sa.lpSecurityDescriptor = &sd;
    }
    // CREATE_NEW fails on anything at the path; a reparse point there is not followed.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Win32Text(path);
        return false;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && ::FlushFileBuffers(file);
    if (!ok) error = Win32Text(path);
    ::CloseHandle(file);
    if (!ok) ::DeleteFileA(path.c_str());
    return ok;
}

bool PutInPlace(const std::string& from, const std::string& to, bool replace, std::string& error) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
    error = Win32Text(to);
    return false;
}

}  // namespace publish
