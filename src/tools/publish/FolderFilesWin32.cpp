// Listing a folder to publish with the ...A calls: names are in the system's code page.
#include <windows.h>

#include "tools/publish/FolderFiles.h"

namespace publish {
namespace {

std::string Win32Text(const std::string& what) {
    return what + " (error " + std::to_string(::GetLastError()) + ")";
}

bool List(const std::string& local, const std::string& release, std::vector<FolderEntry>& files,
          std::string& error) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((local + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        error = Win32Text(local);
        return false;
    }
    bool ok = true;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = local + "\\" + name;
        const std::string releasePath = release.empty() ? name : release + "/" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            error = path + ": a link or reparse point; publish only plain files and folders";
            ok = false;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = List(path, releasePath, files, error);
        } else {
            files.push_back({releasePath, path, uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow});
        }
    } while (ok && ::FindNextFileA(find, &data));
    if (ok && ::GetLastError() != ERROR_NO_MORE_FILES) {
        error = Win32Text(local);
        ok = false;
    }
    ::FindClose(find);
    return ok;
}

}  // namespace

bool IsFolder(const std::string& path) {
    const DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& files, std::string& error) {
    files.clear();
    return List(folder, "", files, error);
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (::CreateDirectoryA(path.c_str(), nullptr) || (::GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path)))
        return true;
    error = Win32Text(path);
    return false;
}

}  // namespace publish
