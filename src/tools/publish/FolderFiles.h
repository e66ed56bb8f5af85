#pragma once
// The file-system side of publishing a folder: one implementation with POSIX calls
// (FolderFilesPosix.cpp), one with the ...A calls (FolderFilesWin32.cpp). Never throws.
#include <cstdint>
#include <string>
#include <vector>

namespace publish {

// A file below the folder being published.
struct FolderEntry {
    std::string releasePath;  // '/'-separated, Windows-1252, as the manifest names it
    std::string localPath;    // as this system opens it
    uint64_t size = 0;
};

// True when `path` is a folder (not a link to one).
bool IsFolder(const std::string& path);

// Every file below `folder`, in no particular order. False with `error` for a link or
// reparse point, anything that is neither file nor folder, a name that Windows-1252 cannot
// write, or a folder that cannot be read: a release holds exactly what the folder holds.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& files, std::string& error);

// Creates the folder `path` unless it is one already.
bool MakeFolder(const std::string& path, std::string& error);

}  // namespace publish
