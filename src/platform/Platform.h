#pragma once
// Operating-system services the system calls, behind narrow interfaces. The Win32
// implementation lives in win32/. Nothing here includes <windows.h>; values that cross
// the seam use the Win32 numbers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/NetTypes.h"

namespace platform {

inline constexpr uint32_t INVALID_FILE_ATTRIBUTES_ = 0xFFFFFFFFu;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY_ = 0x10;
inline constexpr uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND_ = 1813;
// WNetAddConnection2A results that say the share is already connected (the second one:
// under other credentials).
inline constexpr uint32_t ERROR_ALREADY_ASSIGNED_ = 85;
inline constexpr uint32_t ERROR_SESSION_CREDENTIAL_CONFLICT_ = 1219;

// An open local file, byte stream. Every call reports failure instead of throwing.
class File {
public:
    virtual ~File() = default;
    virtual bool Read(void* buf, uint32_t size, uint32_t& got) = 0;
    virtual bool Write(const void* buf, uint32_t size, uint32_t& written) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;  // origin 0/1/2; -1 on failure
    virtual int64_t Size() = 0;                             // -1 on failure
    virtual bool GetLastWriteTime(FileTime& ft) = 0;
    virtual bool Close() = 0;                                // flushes; false on failure
    // Renames the open file to `to`, which must not exist (a file opened ReadLocked only);
    // the handle stays open on the file under its new name.
    virtual bool RenameTo(const std::string& to) = 0;
};

enum class OpenMode {
    Read,            // existing file, read access, no sharing
    ReadShared,      // existing file, read access, others may go on reading and writing it
    ReadWrite,       // existing file, read and write access (the framework's default mode)
    CreateWrite,     // create or truncate, write access
    CreateReadWrite, // create or truncate, read and write, no sharing
    // Existing file, read access; while it is open nobody else may write, rename or delete
    // it, so what is read is what File::RenameTo then moves.
    ReadLocked
};

class Files {
public:
    virtual ~Files() = default;
    virtual uint32_t GetFileAttributes(const std::string& path) = 0;  // INVALID_... when absent
    virtual bool FileExists(const std::string& path) = 0;              // files only, not folders
    virtual bool DirectoryExists(const std::string& path) = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    virtual bool MoveFile(const std::string& from, const std::string& to) = 0;  // `to` must not exist
    // Renames a file over an existing one in one step (MoveFileEx, replace existing); the
    // target may also be absent. A target that is open or running stays as it was.
    virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
    virtual bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
    // CreateHardLinkA: `link` becomes a second name of the file `existing` (same volume, a
    // file system that has links); `link` must not exist.
    virtual bool CreateHardLink(const std::string& link, const std::string& existing) = 0;
    // RemoveDirectoryA: removes an empty folder.
    virtual bool RemoveDirectory(const std::string& path) = 0;
    virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;  // null on failure
    // FindFirstFileA/FindNextFileA over `mask` (a folder and a last part with '*' and '?'),
    // entries of every attribute, "." and ".." included as the file system lists them, in
    // its order. False (last error set) when nothing matches.
    virtual bool FindFiles(const std::string& mask, std::vector<FindData>& found) = 0;
    virtual bool FileTimeToLocalFileTime(const FileTime& in, FileTime& out) = 0;
    virtual bool FileTimeToSystemTime(const FileTime& in, SystemTime& out) = 0;
};

// A mutex that all processes of the user's session find by its name; let go when destroyed.
class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    // Waits up to `ms` milliseconds for it; true once this object holds it (also when its
    // last holder ended without letting go).
    virtual bool Wait(uint32_t ms) = 0;
};

// A program started with a handle on its process; the handle is closed when this goes.
class Process {
public:
    virtual ~Process() = default;
    // Waits up to `ms` milliseconds for the process to end; true once it has ended.
    virtual bool Wait(uint32_t ms) = 0;
    // Its exit code once it has ended (an NTSTATUS such as 0xC0000005 when it crashed or
    // could not load); 259 (STILL_ACTIVE) while it runs.
    virtual uint32_t ExitCode() = 0;
};

// Registry, read-only. Roots are HKEY_CURRENT_USER / HKEY_LOCAL_MACHINE.
enum class RegRoot { CurrentUser, LocalMachine };
inline constexpr uint32_t REG_SZ_ = 1, REG_EXPAND_SZ_ = 2, REG_BINARY_ = 3, REG_DWORD_ = 4;

class Registry;
using RegKey = Owned<Registry>;  // an open registry key

class Registry {
public:
    virtual ~Registry() = default;
    // Opens an existing key for reading; empty when it cannot be opened.
    virtual RegKey OpenKeyRead(RegRoot root, const std::string& subKey) = 0;
    // 0 (ERROR_SUCCESS) with type and data; 2 (ERROR_FILE_NOT_FOUND) when the value does
    // not exist; another code when it exists but cannot be read.
    virtual long QueryValue(const RegKey& key, const std::string& name, uint32_t& type,
                            std::string& data) = 0;
    // What a RegKey calls when it lets go.
    virtual void CloseKey(void* key) = 0;

protected:
    RegKey OwnKey(void* key) { return RegKey(this, key); }
};

inline bool CloseOwned(Registry& reg, void* key) {
    reg.CloseKey(key);
    return true;
}

class System {
public:
    virtual ~System() = default;
    // Win32 shape: length of the value (without the zero) when it fits `size`, the size
    // needed when it does not (nothing filled), 0 when the variable is not set.
    virtual uint32_t GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) = 0;
    virtual std::string GetWindowsDirectory() = 0;
    virtual std::string GetSystemDirectory() = 0;
    virtual std::string GetTempPath() = 0;
    virtual std::string ModuleFileName() = 0;  // the running program's full path
    virtual std::string CommandLine() = 0;     // as GetCommandLineA gives it
    virtual uint32_t WinExec(const std::string& cmdLine, unsigned show) = 0;
    // CreateProcessA of `cmdLine` (no handles inherited, the caller's environment) with
    // `show` as its show mode, in the working folder `folder` (empty: the caller's).
    // `quietFailures`: Windows' crash and critical-error dialogs are off for the new process
    // (inherited error mode), so a crash ends it at once. Null (last error set) when it
    // could not be started.
    virtual std::unique_ptr<Process> StartProcess(const std::string& cmdLine, unsigned show,
                                                  bool quietFailures, const std::string& folder) = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual uint32_t GetTickCount() = 0;
    virtual uint32_t GetLastError() = 0;
    virtual void SetLastError(uint32_t code) = 0;
    virtual uint32_t GetCurrentProcessId() = 0;
    // CreateMutexA, not taken; `name` is a plain name (no backslash) of at most 200
    // characters, made local to the session here. Null when it cannot be made.
    virtual std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name) = 0;
    virtual SystemTime GetLocalTime() = 0;
    // Version resources.
    virtual uint32_t GetFileVersionInfoSize(const std::string& path) = 0;  // sets last error
    virtual bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) = 0;
    // Looks up `subBlock` in data read by GetFileVersionInfo; the value's bytes.
    virtual bool VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                               std::string& value) = 0;
    // Shell and network shares.
    virtual void ShellOpen(const std::string& path) = 0;  // ShellExecuteA "open", SW_SHOWNORMAL
    // WNetAddConnection2A of a disk share without a local name, flags 0; the Win32 code.
    virtual uint32_t WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                        const std::string& userName) = 0;
    // WNetCancelConnection2A; the Win32 code.
    virtual uint32_t WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) = 0;
    // True when `signature` (r||s, 64 bytes) is an ECDSA P-256 signature with SHA-256 over
    // `message` for the public key `point` (04||X||Y, 65 bytes), checked with the system's
    // own cryptography. False for a wrong signature and when the check cannot be made.
    virtual bool VerifyP256Sha256(const std::string& point, const std::string& message,
                                  const std::string& signature) = 0;
};

// The services in use: those installed with Install() (tests install doubles), else the
// defaults.
Files& Fs();
Registry& Reg();
System& Sys();
Network& Net();
void Install(Files* files, Registry* reg, System* sys, Network* net);

// The default services, process-wide, defined by the implementation a program links: the
// Win32 one in win32/. A native build ships none; its test programs bring their own.
Files& DefaultFiles();
Registry& DefaultRegistry();
System& DefaultSystem();
Network& DefaultNetwork();

// Argument i (1-based; 0 is the program) of the command line, parsed as the framework does:
// separated by blanks and control characters, double quotes group blanks and are removed.
std::vector<std::string> ParseCommandLine(const std::string& cmdLine);
int ParamCount();
std::string ParamStr(int index);

}  // namespace platform
