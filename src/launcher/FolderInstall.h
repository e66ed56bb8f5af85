#pragma once
// A program of many files on the client: every release in a version folder of its own,
// Applikationer\N\<first 16 hex digits of the SHA-256 of its manifest>\, built beside the
// running one and checked file by file before N.dat (the manifest) makes it current. Nothing
// in a folder that N.dat or N.prev.dat names is ever changed.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/FolderManifest.h"

// The version folder's name for a manifest: 16 lower-case hex digits.
std::string VersionId(const std::string& manifestBytes);
// `appFolder` + N + "\" + VersionId + "\" (`appFolder` ends in a backslash).
std::string VersionFolder(const std::string& appFolder, const std::string& baseName,
                          const std::string& manifestBytes);

// True when the file at `path` holds exactly `size` bytes whose SHA-256 is `sha256`, read
// through a handle that keeps others from writing, renaming or deleting it meanwhile.
bool FileMatches(const std::string& path, uint64_t size, const std::string& sha256);

// A file of an installed version that may stand in for a file of the same content.
struct InstalledFile {
    std::string path;    // full local path
    std::string sha256;  // what it should hold; checked again before it is used
};

// One object to download: managedfiles/N.files/<sha256> into `folder` as `name` (the
// version folder's staging folder, <id>.part, and the hash).
struct ObjectFetch {
    std::string sha256;
    uint64_t size = 0;
    std::string folder;  // ends in a backslash
    std::string name;
};
// Downloads the objects (one run); what arrived is checked afterwards.
using FetchObjects = std::function<void(const std::vector<ObjectFetch>& objects)>;

struct BuildStats {
    size_t kept = 0, linked = 0, copied = 0, fetched = 0;
    uint64_t fetchedBytes = 0;
};

// Makes `folder` (a version folder, not current) hold exactly the files of `m`, each
// checked for its size and SHA-256: a matching file already there stays (an earlier try),
// an installed file of the same content is hard-linked or else copied, and only the other
// objects are fetched, each once, into the staging folder beside it and moved in when
// checked. True when every file is in place and checked; then nothing else is in the folder
// and the staging folder is gone. False otherwise; what was checked stays for the next try,
// and so does what a broken-off download left in the staging folder.
bool BuildVersion(const FolderManifest& m, const std::string& folder,
                  const std::vector<InstalledFile>& installed, const FetchObjects& fetch,
                  BuildStats* stats = nullptr);

// Deletes `path` (a folder) with everything in it, as far as it can: a file in use stays,
// and so do the folders above it. True when nothing is left.
bool RemoveTree(const std::string& path);

// The staging folder of a version folder: the same path with ".part".
std::string StagingFolder(const std::string& folder);

// Removes every version folder under `appFolder` + N + "\" but those named in `keep`
// (version ids; their staging folders stay too), and anything else found there. A folder
// whose N.exe cannot be deleted (it runs) is left whole until a later start.
void RemoveOtherVersions(const std::string& appFolder, const std::string& baseName,
                         const std::vector<std::string>& keep);

// An installed folder release, as a manifest file (N.dat, N.prev.dat) names it.
struct FolderVersion {
    std::string bytes;        // the manifest file's bytes
    FolderManifest manifest;
    std::string folder;       // its version folder, ending in a backslash
    std::string program;      // folder + N.exe
};

// Reads `path` (at most kMaxFolderManifestSize bytes) as the manifest of an installed folder
// release of N; false when it is none (absent, another form, broken) or when its folder has
// no N.exe, so that the release counts as not installed and is fetched again.
bool ReadFolderVersion(const std::string& path, const std::string& appFolder, const std::string& baseName,
                       FolderVersion& out);
// The same for a manifest file's bytes, already read.
bool FolderVersionOf(const std::string& bytes, const std::string& appFolder, const std::string& baseName,
                     FolderVersion& out);

// The files of `v` as stand-ins for a new release's files.
void AddInstalledFiles(const FolderVersion& v, std::vector<InstalledFile>& files);

// A file's SHA-256 as 64 lower-case hex digits, read through a locked handle; empty when it
// cannot be read.
std::string FileSha256(const std::string& path);
