#include "launcher/FolderInstall.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/Platform.h"
#include "signing/Sha256.h"
#include "webcopy/WebCopyHelpers.h"

namespace {

constexpr uint32_t kHashBlock = 1024 * 1024;

bool IsDots(const std::string& name) { return name == "." || name == ".."; }

// Creates `folder` and the folders of `relative` (a '\'-separated file path) below it.
bool MakeFoldersFor(const std::string& folder, const std::string& relative) {
    auto& fs = platform::Fs();
    for (size_t cut = relative.find('\\'); cut != std::string::npos; cut = relative.find('\\', cut + 1)) {
        const std::string dir = folder + relative.substr(0, cut);
        if (!fs.DirectoryExists(dir) && !fs.CreateDirectory(dir)) return false;
    }
    return true;
}

bool MakeEmptyFile(const std::string& path) {
    auto file = platform::Fs().Open(path, platform::OpenMode::CreateWrite);
    return file && file->Close();
}

// Every entry below `folder` (relative paths with '\', folders too), deepest last.
void ListTree(const std::string& folder, const std::string& relative, std::vector<std::string>& files,
              std::vector<std::string>& folders) {
    std::vector<platform::FindData> found;
    if (!platform::Fs().FindFiles(folder + relative + "*", found)) return;
    for (const auto& e : found) {
        if (IsDots(e.cFileName)) continue;
        const std::string path = relative + e.cFileName;
        if (e.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_) {
            folders.push_back(path);
            ListTree(folder, path + "\\", files, folders);
        } else {
            files.push_back(path);
        }
    }
}

// Removes what `m` does not name from `folder`: leftovers of earlier tries, and anything put
// there that the program would otherwise load beside its own files.
bool RemoveExtras(const FolderManifest& m, const std::string& folder) {
    std::set<std::string> keepFiles, keepFolders;
    for (const auto& f : m.files) {
        const std::string key = FoldCase(LocalReleasePath(f.path));
        keepFiles.insert(key);
        for (size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1))
            keepFolders.insert(key.substr(0, cut));
    }
    std::vector<std::string> files, folders;
    ListTree(folder, "", files, folders);
    bool clean = true;
    for (const auto& f : files)
        if (!keepFiles.count(FoldCase(f))) clean = platform::Fs().DeleteFile(folder + f) && clean;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (!keepFolders.count(FoldCase(*it))) clean = RemoveTree(folder + *it) && clean;
    return clean;
}

// The SHA-256 (hex) of what `file` holds from where it stands; empty when a read fails or
// more than `limit` bytes are there.
std::string HashThrough(platform::File& file, uint64_t limit) {
    signing::Sha256 hash;
    std::string buf(kHashBlock, '\0');
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (!file.Read(&buf[0], kHashBlock, got)) return std::string();
        if (got == 0) break;
        total += got;
        if (total > limit) return std::string();
        hash.Update(buf.data(), got);
    }
    return signing::ToHex(hash.Finish());
}

bool ReadWhole(const std::string& path, std::string& bytes, size_t limit) {
    auto file = platform::Fs().Open(path, platform::OpenMode::Read);
    if (!file) return false;
    bytes.clear();
    std::string buf(kHashBlock, '\0');
    for (;;) {
        uint32_t got = 0;
        if (!file->Read(&buf[0], kHashBlock, got)) return false;
        if (got == 0) break;
        bytes.append(buf.data(), got);
        if (bytes.size() > limit) return false;
    }
    return file->Close();
}

}  // namespace

bool FileMatches(const std::string& path, uint64_t size, const std::string& sha256) {
    auto file = platform::Fs().Open(path, platform::OpenMode::ReadLocked);
    return file && file->Size() == static_cast<int64_t>(size) && HashThrough(*file, size) == sha256;
}

std::string FileSha256(const std::string& path) {
    auto file = platform::Fs().Open(path, platform::OpenMode::ReadLocked);
    return file ? HashThrough(*file, UINT64_MAX) : std::string();
}

bool ReadFolderVersion(const std::string& path, const std::string& appFolder, const std::string& baseName,
                       FolderVersion& out) {
    std::string bytes;
    return platform::Fs().FileExists(path) && ReadWhole(path, bytes, kMaxFolderManifestSize) &&
           FolderVersionOf(bytes, appFolder, baseName, out);
}

bool FolderVersionOf(const std::string& bytes, const std::string& appFolder, const std::string& baseName,
                     FolderVersion& out) {
    auto& fs = platform::Fs();
    FolderVersion v;
    v.bytes = bytes;
    if (baseName.empty() || !IsFolderManifestText(v.bytes) || !ParseFolderManifest(v.bytes, baseName + ".exe", v.manifest))
        return false;
    v.folder = VersionFolder(appFolder, baseName, v.bytes);
    // The manifest's own spelling of the program's name; Windows finds it either way.
    for (const auto& f : v.manifest.files)
        if (FoldCase(f.path) == FoldCase(baseName + ".exe")) v.program = v.folder + f.path;
    if (!fs.FileExists(v.program)) return false;
    out = std::move(v);
    return true;
}

void AddInstalledFiles(const FolderVersion& v, std::vector<InstalledFile>& files) {
    for (const auto& f : v.manifest.files) files.push_back({v.folder + LocalReleasePath(f.path), f.sha256});
}

std::string VersionId(const std::string& manifestBytes) {
    return signing::Sha256Hex(manifestBytes).substr(0, 16);
}

std::string VersionFolder(const std::string& appFolder, const std::string& baseName,
                          const std::string& manifestBytes) {
    return appFolder + baseName + "\\" + VersionId(manifestBytes) + "\\";
}

std::string StagingFolder(const std::string& folder) {
    return folder.substr(0, folder.size() - 1) + ".part\\";
}

// Puts a file of the release in place from an installed file with its hash: a link costs no
// copy, and its bytes are checked all the same, through the new name. False when none serves.
static bool PlaceFromInstalled(const std::string& target, const FolderFile& f,
                        const std::multimap<std::string, std::string>& sources, BuildStats& counts) {
    auto& fs = platform::Fs();
    const auto range = sources.equal_range(f.sha256);
    for (auto it = range.first; it != range.second; ++it) {
        bool placed = false;
        if (fs.CreateHardLink(target, it->second)) {
            placed = FileMatches(target, f.size, f.sha256);
            if (placed) ++counts.linked;
        } else if (fs.CopyFile(it->second, target, true)) {
            placed = FileMatches(target, f.size, f.sha256);
            if (placed) ++counts.copied;
        }
        if (placed) return true;
        fs.DeleteFile(target);
    }
    return false;
}

// Moves each fetched object, once checked, to the paths that want it (copies after the
// first). False when any is missing, wrong or cannot be placed.
static bool MoveFetched(const std::vector<ObjectFetch>& missing,
                 std::map<std::string, std::vector<std::string>>& wanted, BuildStats& counts) {
    auto& fs = platform::Fs();
    bool complete = true;
    for (const auto& o : missing) {
        const std::string object = o.folder + o.name;
        if (!FileMatches(object, o.size, o.sha256)) {
            // Whatever it is, it is not the release's: fetched whole next time.
            fs.DeleteFile(object);
            complete = false;
            continue;
        }
        ++counts.fetched;
        counts.fetchedBytes += o.size;
        const auto& paths = wanted[o.sha256];
        if (!fs.MoveFile(object, paths[0])) {
            complete = false;
            continue;
        }
        for (size_t i = 1; i < paths.size(); ++i)
            if (!(fs.CopyFile(paths[0], paths[i], true) && FileMatches(paths[i], o.size, o.sha256))) {
                fs.DeleteFile(paths[i]);
                complete = false;
            }
    }
    return complete;
}

bool BuildVersion(const FolderManifest& m, const std::string& folder,
                  const std::vector<InstalledFile>& installed, const FetchObjects& fetch,
                  BuildStats* stats) {
    auto& fs = platform::Fs();
    BuildStats counts;
    std::multimap<std::string, std::string> sources;  // sha256 -> installed path
    for (const auto& f : installed) sources.emplace(f.sha256, f.path);
    if (!ForceDirectory(folder)) return false;

    // Files no installed file stands in for, by the object they need.
    std::map<std::string, std::vector<std::string>> wanted;
    std::vector<ObjectFetch> missing;
    const std::string staging = StagingFolder(folder);
    for (const auto& f : m.files) {
        const std::string relative = LocalReleasePath(f.path);
        const std::string target = folder + relative;
        if (fs.FileExists(target)) {
            if (FileMatches(target, f.size, f.sha256)) {
                ++counts.kept;
                continue;
            }
            if (!fs.DeleteFile(target)) return false;
        }
        if (!MakeFoldersFor(folder, relative)) return false;
        if (f.size == 0) {
            if (!MakeEmptyFile(target)) return false;
            ++counts.copied;
            continue;
        }
        if (PlaceFromInstalled(target, f, sources, counts)) continue;
        auto& paths = wanted[f.sha256];
        if (paths.empty()) missing.push_back({f.sha256, f.size, staging, f.sha256});
        paths.push_back(target);
    }

    // Objects arrive beside the version folder, under their hash, and move in only once
    // checked: a download's partial and resume files never lie among the release's own.
    if (!missing.empty() && (!ForceDirectory(staging) || (fetch(missing), false))) return false;
    const bool complete = MoveFetched(missing, wanted, counts);
    if (stats) *stats = counts;
    if (!complete || !RemoveExtras(m, folder)) return false;
    if (fs.DirectoryExists(staging.substr(0, staging.size() - 1))) RemoveTree(staging.substr(0, staging.size() - 1));
    return true;
}

bool RemoveTree(const std::string& path) {
    auto& fs = platform::Fs();
    std::vector<std::string> files, folders;
    const std::string folder = path + "\\";
    ListTree(folder, "", files, folders);
    bool clean = true;
    for (const auto& f : files) clean = fs.DeleteFile(folder + f) && clean;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) clean = fs.RemoveDirectory(folder + *it) && clean;
    return fs.RemoveDirectory(path) && clean;
}

void RemoveOtherVersions(const std::string& appFolder, const std::string& baseName,
                         const std::vector<std::string>& keep) {
    auto& fs = platform::Fs();
    // Without a name this would be the application folder itself.
    if (baseName.empty()) return;
    const std::string versions = appFolder + baseName + "\\";
    std::vector<platform::FindData> found;
    if (!fs.FindFiles(versions + "*", found)) return;
    for (const auto& e : found) {
        if (IsDots(e.cFileName)) continue;
        // A kept version's objects in transit (<id>.part) stay with it.
        std::string id = FoldCase(e.cFileName);
        if (id.size() > 5 && id.compare(id.size() - 5, 5, ".part") == 0) id.resize(id.size() - 5);
        if (std::find(keep.begin(), keep.end(), id) != keep.end()) continue;
        const std::string path = versions + e.cFileName;
        if (!(e.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_)) {
            fs.DeleteFile(path);
            continue;
        }
        // A program still running from there (started before the last update) keeps its
        // folder: its N.exe cannot be deleted while it runs.
        const std::string program = path + "\\" + baseName + ".exe";
        if (fs.FileExists(program) && !fs.DeleteFile(program)) continue;
        RemoveTree(path);
    }
}
