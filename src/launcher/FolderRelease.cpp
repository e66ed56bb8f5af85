#include "launcher/FolderRelease.h"

#include "launcher/Manifest.h"

#include "launcher/uStarter.h"
#include "signing/Sha256.h"
#include "webcopy/TargetFile.h"

namespace {

constexpr uint32_t kProgramHead = 64 * 1024;

// Replaces `path` by `bytes` in one step.
bool WriteInOneStep(const std::string& path, const std::string& bytes) {
    webcopy::TargetFile file(path);
    return file.Create() && file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) && file.Commit();
}

// A manifest file's bytes; false when it is there but cannot be read (or is too large).
bool ReadManifestFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    if (!platform::Fs().FileExists(path)) return platform::Fs().GetFileAttributes(path) == platform::INVALID_FILE_ATTRIBUTES_;
    return ReadSmallFile(path, bytes, kMaxFolderManifestSize, false);
}

bool IsProgram(const std::string& path) {
    auto file = platform::Fs().Open(path, platform::OpenMode::ReadLocked);
    if (!file) return false;
    const int64_t size = file->Size();
    std::string head(kProgramHead, '\0');
    uint32_t got = 0;
    return size > 0 && file->Read(&head[0], kProgramHead, got) &&
           IsWindowsProgram(head.data(), got, static_cast<uint64_t>(size));
}

}  // namespace

void FolderReleases::Load(const StarterNames& n, const std::string& dat) {
    n_ = &n;
    currentBytes_ = dat;
    currentIsFolder_ = IsFolderManifestText(dat);
    installed_ = currentIsFolder_ && FolderVersionOf(dat, n.folder, n.baseName, current_);
}

InstallResult FolderReleases::Build(const std::string& txt, const ReleaseInfo& release, const FetchObjects& fetch) {
    const StarterNames& n = *n_;
    auto& fs = platform::Fs();
    FolderVersion v;
    refusal_ = "hostile manifest";
    // Refused whole before anything is written for it.
    if (!ParseFolderManifest(txt, n.baseName + ".exe", v.manifest)) return InstallResult::NotInstalled;
    refusal_ = "release marked bad";
    badRecord_ = ReleaseInfo();
    badRecord_.stamp = release.stamp;
    badRecord_.sha256 = signing::Sha256Hex(txt);
    std::string bad;
    if (fs.FileExists(n.bad) && ReadSmallFile(n.bad, bad, kMaxStampFileSize, false) && IsBadRelease(bad, badRecord_))
        return InstallResult::NotInstalled;
    refusal_ = "";

    // What may stand in for its files: the current and the previous version, and a program
    // installed by a single-file release (its hash is not recorded anywhere: computed).
    std::vector<InstalledFile> installed;
    FolderVersion previous;
    if (installed_) AddInstalledFiles(current_, installed);
    if (ReadFolderVersion(n.previousStamp, n.folder, n.baseName, previous)) AddInstalledFiles(previous, installed);
    if (fs.FileExists(n.managed)) {
        const std::string sha = FileSha256(n.managed);
        if (!sha.empty()) installed.push_back({n.managed, sha});
    }

    v.bytes = txt;
    v.folder = VersionFolder(n.folder, n.baseName, txt);
    for (const auto& f : v.manifest.files)
        if (FoldCase(f.path) == FoldCase(n.baseName + ".exe")) v.program = v.folder + f.path;
    unfinishedId_ = VersionId(txt);
    if (!BuildVersion(v.manifest, v.folder, installed, fetch)) return InstallResult::NotInstalled;
    unfinishedId_.clear();
    // Only a Windows program starts, as for a single-file release.
    refusal_ = "not a Windows program";
    if (!IsProgram(v.program)) return InstallResult::NotInstalled;
    refusal_ = "";
    built_ = std::move(v);
    return InstallResult::Installed;
}

bool FolderReleases::Switch() {
    const StarterNames& n = *n_;
    auto& fs = platform::Fs();
    // Read again: what was current at the start may not have been readable then.
    std::string current;
    if (!ReadManifestFile(n.localStamp, current)) return false;
    const bool kept = current.empty() ? fs.DeleteFile(n.previousStamp) || !fs.FileExists(n.previousStamp)
                                      : WriteInOneStep(n.previousStamp, current);
    return kept && WriteInOneStep(n.localStamp, built_.bytes);
}

void FolderReleases::KeepAsPrevious() {
    if (currentIsFolder_) WriteInOneStep(n_->previousStamp, currentBytes_);
}

void FolderReleases::CleanUp() {
    const StarterNames& n = *n_;
    auto& fs = platform::Fs();
    if (n.baseName.empty()) return;
    std::string dat, prev;
    // Nothing goes unless both records could be read: a version they name must stay.
    if (!ReadManifestFile(n.localStamp, dat) || !ReadManifestFile(n.previousStamp, prev)) return;
    std::vector<std::string> keep;
    if (IsFolderManifestText(dat)) keep.push_back(VersionId(dat));
    if (IsFolderManifestText(prev)) keep.push_back(VersionId(prev));
    if (!unfinishedId_.empty()) keep.push_back(unfinishedId_);
    if (!built_.bytes.empty()) keep.push_back(VersionId(built_.bytes));
    if (fs.DirectoryExists(n.folder + n.baseName)) RemoveOtherVersions(n.folder, n.baseName, keep);
    // A single-file program neither the current nor the previous release is.
    if (IsFolderManifestText(dat) && (prev.empty() || IsFolderManifestText(prev))) {
        fs.DeleteFile(n.managed);
        fs.DeleteFile(n.previous);
    }
}
