// The publish command's keys and files with OpenSSL's libcrypto and POSIX calls.
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/publish/Keys.h"

namespace publish {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

std::string OpenSslError(const char* what) {
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    if (code) ERR_error_string_n(code, text, sizeof text);
    return std::string(what) + (code ? std::string(": ") + text : std::string());
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

}  // namespace

bool GenerateKeyPair(std::string& privatePem, std::string& publicPem, std::string& error) {
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Bio priv(BIO_new(BIO_s_mem()), BIO_free), pub(BIO_new(BIO_s_mem()), BIO_free);
    if (!key || !priv || !pub) {
        error = OpenSslError("cannot make a key");
        return false;
    }
    if (!PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_PUBKEY(pub.get(), key.get())) {
        error = OpenSslError("cannot write the key");
        return false;
    }
    privatePem = BioText(priv.get());
    publicPem = BioText(pub.get());
    return true;
}

bool Sign(const std::string& privatePem, const std::string& message, std::string& der,
          std::string& error) {
    Bio bio(BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())), BIO_free);
    // No password callback: an encrypted key is refused before it gets here.
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx) {
        error = OpenSslError("cannot read the private key");
        return false;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    size_t size = 0;
    if (EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, data, message.size()) != 1) {
        error = OpenSslError("cannot sign");
        return false;
    }
    std::string sig(size, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(&sig[0]), &size, data,
                       message.size()) != 1) {
        error = OpenSslError("cannot sign");
        return false;
    }
    sig.resize(size);
    der = sig;
    return true;
}

bool PathTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool ownerOnly,
                  std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          ownerOnly ? 0600 : 0644);
    // The umask may take bits away, never add them; the mode is set before anything is written.
    if (fd < 0 || (ownerOnly && ::fchmod(fd, 0600) != 0)) {
        error = path + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool PutInPlace(const std::string& from, const std::string& to, bool replace, std::string& error) {
    if (replace) {
        if (std::rename(from.c_str(), to.c_str()) != 0) {
            error = to + ": " + std::strerror(errno);
            return false;
        }
    } else {
        // A hard link fails when anything is at `to`, a dangling link included.
        if (::link(from.c_str(), to.c_str()) != 0) {
            error = to + ": " + std::strerror(errno);
            return false;
        }
        ::unlink(from.c_str());
    }
    // The rename is on disk once the folder is.
    const size_t slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace publish
