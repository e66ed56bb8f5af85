#pragma once
// The double of the local file system: in memory, Windows path rules, sharing modes,
// locked (running) files. The helpers (WriteFile, Lock, ...) set the scene: they are not
// counted and never fail. File objects must not outlive it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doubles/FakeCalls.h"
#include "doubles/FakeTime.h"
#include "platform/Platform.h"

namespace platform::fake {

// Windows-1252 upper case, as the file system compares names.
std::string UpperName(const std::string& s);
// '*' and '?' matching; `ignoreCase` compares as the file system does.
bool WildcardMatch(const std::string& pattern, const std::string& name, bool ignoreCase);

class FakeFiles : public Files, private FakeService {
public:
    explicit FakeFiles(FakeCalls& calls);
    ~FakeFiles() override;
    FakeFiles(const FakeFiles&) = delete;
    FakeFiles& operator=(const FakeFiles&) = delete;

    // Paths are case-insensitive, "\" or "/" separated, drives ("C:") and UNC shares
    // ("\\srv\share") are roots; C: exists, the current folder is C:\.
    void AddRoot(const std::string& root);
    void SetCurrentDirectory(const std::string& path);
    void MakeDirectory(const std::string& path);                        // with parents and root
    void WriteFile(const std::string& path, const std::string& bytes);  // with parents and root
    std::optional<std::string> ReadFile(const std::string& path) const;
    bool Exists(const std::string& path) const;  // file or folder
    bool IsDirectory(const std::string& path) const;
    void Remove(const std::string& path);  // file or folder with its contents
    // Names (as created) of the entries of a folder, in the file system's order.
    std::vector<std::string> ListFolder(const std::string& path) const;
    // A locked file behaves like a running program: DeleteFile fails with 5, opening it for
    // writing fails with 32; reading, copying it and renaming it work.
    void Lock(const std::string& path, bool locked = true);
    void SetLastWriteTime(const std::string& path, const FileTime& t);
    std::optional<FileTime> LastWriteTime(const std::string& path) const;
    void SetAttributes(const std::string& path, uint32_t attributes);  // the folder bit is kept
    void SetNow(const FileTime& t);                // time stamped on created and written files
    FileTime Now() const;
    void SetTimeZoneBias(int minutes);             // FileTimeToLocalFileTime adds it
    int OpenFileCount() const;
    // A file system that holds at most this many bytes per file: a write past it stores what
    // fits and reports that short count as a success.
    void SetMaxFileSize(uint64_t bytes);
    // CreateHardLink fails (error 1, as on a file system without links) when false.
    void SetHardLinks(bool supported);
    // Key of a path for look-ups outside the file system (version resources); the
    // upper-cased text when it does not parse.
    std::string FileKey(const std::string& path) const;

    uint32_t GetFileAttributes(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool DirectoryExists(const std::string& path) override;
    bool CreateDirectory(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;
    bool ReplaceFile(const std::string& from, const std::string& to) override;
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
    // A second name of the same node: writes through either name show in both. Only under
    // the same file name (a node keeps one); another name fails as without links.
    bool CreateHardLink(const std::string& link, const std::string& existing) override;
    bool RemoveDirectory(const std::string& path) override;
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    bool FindFiles(const std::string& mask, std::vector<FindData>& found) override;
    bool FileTimeToLocalFileTime(const FileTime& in, FileTime& out) override;
    bool FileTimeToSystemTime(const FileTime& in, SystemTime& out) override;

    // Internal: MoveFile, uncounted (a rename through an open handle).
    bool RenameUncounted(const std::string& from, const std::string& to);

    struct State;

private:
    bool Rename(const std::string& from, const std::string& to);  // MoveFile, uncounted

    std::unique_ptr<State> fs_;
};

}  // namespace platform::fake
