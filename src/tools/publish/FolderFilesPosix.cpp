// Listing a folder to publish with POSIX calls; names are UTF-8 here and Windows-1252 in
// the release.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/publish/FolderFiles.h"

namespace publish {
namespace {

// Windows-1252's bytes 0x80-0x9F (0 where it has none).
constexpr uint16_t kHigh[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                                0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

bool Utf8ToCp1252(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        uint32_t cp = 0;
        size_t n = 0;
        if (c < 0x80) cp = c, n = 1;
        else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, n = 2;
        else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, n = 3;
        else return false;
        if (i + n > in.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(in[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = cp << 6 | (t & 0x3F);
        }
        if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800)) return false;  // overlong
        i += n;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        size_t b = 0;
        while (b < 32 && kHigh[b] != cp) ++b;
        if (b == 32 || cp == 0) return false;
        out += static_cast<char>(0x80 + b);
    }
    return true;
}

struct CloseDir {
    void operator()(DIR* d) const { ::closedir(d); }
};

bool List(const std::string& local, const std::string& release, std::vector<FolderEntry>& files,
          std::string& error) {
    std::unique_ptr<DIR, CloseDir> dir(::opendir(local.c_str()));
    if (!dir) {
        error = local + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = local + "/" + name;
        std::string windowsName;
        if (!Utf8ToCp1252(name, windowsName)) {
            error = path + ": the name has no Windows-1252 form";
            return false;
        }
        const std::string releasePath = release.empty() ? windowsName : release + "/" + windowsName;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!List(path, releasePath, files, error)) return false;
        } else if (S_ISREG(st.st_mode)) {
            files.push_back({releasePath, path, static_cast<uint64_t>(st.st_size)});
        } else {
            error = path + ": a link or special file; publish only plain files and folders";
            return false;
        }
        errno = 0;
    }
    if (errno != 0) {
        error = local + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& files, std::string& error) {
    files.clear();
    return List(folder, "", files, error);
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && IsFolder(path))) return true;
    error = path + ": " + std::strerror(errno);
    return false;
}

}  // namespace publish
