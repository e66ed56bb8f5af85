#pragma once
// Test doubles for the platform services: one in-memory Windows-like machine with a file
// system, a registry, process services, a scripted HTTP server and small FTP servers.
//
// The helpers below (WriteFile, SetHttp, ...) set the scene: they are not counted and never
// fail. Every call through the service interfaces is counted (except GetTickCount,
// GetLastError and SetLastError), so a torture test can run a scenario once, read
// CallCount(), and then rerun it with FailCall(n) for every n. An injected failure looks
// like the Win32 failure of that call: false / null / INVALID / -1 / an error code, with
// the last error set. Calls without a failure result in Win32 or in the interface
// (CommandLine, Sleep, GetLocalTime, CloseKey, ShellOpen) are counted, but an injected
// failure changes nothing there. File.Close and InternetCloseHandle release the handle
// even when they report a failure.
//
// Single-threaded: use the services from one thread at a time. File objects and network
// handles must not outlive the platform.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace platform::fake {

// Win32 error codes the doubles report.
inline constexpr uint32_t kErrFileNotFound = 2;
inline constexpr uint32_t kErrPathNotFound = 3;
inline constexpr uint32_t kErrAccessDenied = 5;
inline constexpr uint32_t kErrInvalidHandle = 6;
inline constexpr uint32_t kErrNoMoreFiles = 18;
inline constexpr uint32_t kErrSharingViolation = 32;
inline constexpr uint32_t kErrFileExists = 80;
inline constexpr uint32_t kErrInvalidParameter = 87;
inline constexpr uint32_t kErrDiskFull = 112;
inline constexpr uint32_t kErrDirNotEmpty = 145;
inline constexpr uint32_t kErrInvalidName = 123;
inline constexpr uint32_t kErrAlreadyExists = 183;
inline constexpr uint32_t kErrEnvVarNotFound = 203;
inline constexpr uint32_t kErrResourceDataNotFound = 1812;
inline constexpr uint32_t kErrInternetTimeout = 12002;
inline constexpr uint32_t kErrInternetNameNotResolved = 12007;
inline constexpr uint32_t kErrInternetLoginFailure = 12015;
inline constexpr uint32_t kErrInternetIncorrectHandleState = 12019;
inline constexpr uint32_t kErrInternetExtendedError = 12003;
inline constexpr uint32_t kErrInternetCannotConnect = 12029;
inline constexpr uint32_t kErrInternetConnectionAborted = 12030;
inline constexpr uint32_t kErrFtpTransferInProgress = 12110;
inline constexpr uint32_t kErrHttpHeaderNotFound = 12150;

// File times (UTC, 100 ns since 1601).
FileTime MakeFileTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                      int millisecond = 0);
bool ToFileTime(const SystemTime& st, FileTime& out);    // false for invalid fields
bool ToSystemTime(const FileTime& ft, SystemTime& out);  // false above 0x7FFF...
SystemTime MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0, int millisecond = 0);  // day of week filled in

// A scripted answer of the HTTP server.
struct HttpResponse {
    uint32_t status = 200;
    std::string body;
    bool hasContentLength = true;             // false: no Content-Length header
    // Announced value; the body's size when unset. The number form of the query gives its
    // low 32 bits (as WinInet's DWORD does), the text form all of it.
    std::optional<uint64_t> contentLength;
    std::optional<SystemTime> lastModified;   // absent when unset
    // The Last-Modified text when it cannot be read as a date (the date query then fails).
    std::optional<std::string> lastModifiedText;
    std::optional<std::string> location;      // Location header; absent when unset
    std::optional<std::string> etag;          // ETag header, as sent (quotes included)
    std::optional<std::string> contentRange;  // Content-Range header
    bool statusUnreadable = false;             // the status query fails
    // Reads deliver this many body bytes, then fail with failReadError (every later read too).
    std::optional<uint64_t> failReadAfter;
    uint32_t failReadError = kErrInternetConnectionAborted;
    // After this many body bytes the server sends nothing more and keeps the connection:
    // a read then waits out the handle's stall limit (the ticks advance by it) and fails
    // with 12002. Without a limit such a read would wait for ever: it throws instead.
    std::optional<uint64_t> stallAfter;
    // The server takes the request and sends nothing at all: InternetOpenUrl waits out the
    // session's stall limit and fails with 12002 (or throws without a limit).
    bool silent = false;
    // Every read delivers at most this many body bytes (a trickle, with onRead's time).
    std::optional<uint32_t> readSize;
    // Called at the start of every InternetReadFile with the body bytes delivered so far.
    std::function<void(uint64_t delivered)> onRead;
};

// How a scripted FTP server misbehaves (SetFtpFaults).
struct FtpFaults {
    bool listRefused = false;    // LIST is refused: FtpFindFirstFile finds nothing
    bool sizeRefused = false;    // SIZE is refused
    bool renameRefused = false;  // RNFR/RNTO is refused
    // Every listing gives this size for every file (a server's view of a huge file).
    std::optional<uint64_t> listedSize;
    // A download's data connection ends after this many bytes as if the file ended there;
    // the final reply is then 426.
    std::optional<uint64_t> cutAfter;
    // The final reply of every transfer when not empty ("550 Quota exceeded" after the
    // data): an upload's bytes are then dropped, as the server refused to keep them.
    std::string transferReply;
};

// What InternetOpenUrl received.
struct HttpRequest {
    std::string url;
    std::string headers;  // the extra header text (length -1 means zero-terminated)
    uint32_t flags = 0;
    std::string proxyUser, proxyPassword;  // set on the request before it was sent again
};

// An HTTP upload: InternetConnect + HttpOpenRequest + HttpSendRequestEx + writes.
struct HttpUpload {
    std::string server;
    uint16_t port = 0;
    std::string verb;
    std::string object;
    uint32_t openFlags = 0;      // HttpOpenRequest flags
    uint32_t totalLength = 0;    // announced by HttpSendRequestEx
    uint32_t sendFlags = 0;
    bool sent = false;           // HttpSendRequestEx succeeded
    bool ended = false;          // HttpEndRequest succeeded
    std::string body;
    std::vector<uint32_t> writeSizes;  // every InternetWriteFile size, 0 included
};

struct OptionSet {  // InternetSetOption
    HINTERNET handle = nullptr;
    uint32_t option = 0;
    std::string value;
};

struct SessionOpen {  // InternetOpen
    std::string agent;
    uint32_t accessType = 0;
    std::optional<std::string> proxy;
    std::optional<std::string> bypass;
    uint32_t flags = 0;
};

struct ConnectCall {  // InternetConnect
    std::string server;
    uint16_t port = 0;
    std::optional<std::string> user;      // unset when null was passed
    std::optional<std::string> password;  // unset when null was passed
    uint32_t service = 0;
    uint32_t flags = 0;
    bool succeeded = false;
};

struct WinExecCall {
    std::string cmdLine;
    unsigned show = 0;
    std::string folder;  // StartProcess's working folder (empty: the caller's)
};

// How a program started with StartProcess behaves, chosen by the bytes of its file.
struct ProgramBehaviour {
    bool startFails = false;               // CreateProcess fails with 193 (not a valid program)
    std::optional<uint32_t> endsAfterMs;   // ends this long after its start; unset: runs on
    uint32_t exitCode = 0;                 // when it ends
};

struct WNetAddCall {
    std::string remoteName;
    std::string password;
    std::string userName;
};

struct WNetCancelCall {
    std::string name;
    uint32_t flags = 0;
    bool force = false;
};

// Version resource of one file: sub-block ("\", "\VarFileInfo\Translation",
// "\StringFileInfo\041D04E4\FileVersion", ...) -> the value's bytes as VerQueryValue gives
// them (texts without their zero). Look-ups ignore case and a leading backslash.
struct VersionInfo {
    std::map<std::string, std::string> blocks;
};
// The 52 bytes of a VS_FIXEDFILEINFO.
std::string FixedFileInfoBytes(uint32_t fileVersionMS, uint32_t fileVersionLS,
                               uint32_t productVersionMS, uint32_t productVersionLS,
                               uint32_t fileOS = 0x40004);
// A typical resource: translation (language, code page), the fixed block with the numbers
// of the version texts (a.b.c.d, where they parse), FileVersion and ProductVersion.
// Empty texts are left out.
VersionInfo MakeVersionInfo(const std::string& fileVersion, const std::string& productVersion,
                            uint16_t language = 0x041D, uint16_t codePage = 0x04E4);

class FakePlatform : public Files, public Registry, public System, public Network {
public:
    FakePlatform();
    ~FakePlatform() override;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    void Install();          // as all four services
    static void Uninstall(); // no services installed

    // ---- Failure injection and call counting
    void FailCall(uint64_t n);  // the n-th counted call (1-based) fails, once
    // The occurrence-th counted call named `name` from now on fails, once ("DeleteFile",
    // "File.Write", "InternetReadFile", ...; the names of CallLog()).
    void FailNextCall(const std::string& name, int occurrence = 1);
    uint64_t CallCount() const;
    // "Name detail" per counted call, e.g. "DeleteFile C:\a.txt"; a "!" marks injected failures.
    const std::vector<std::string>& CallLog() const;
    void ResetCalls();  // counter and log back to zero; pending failures and hook dropped
    // Called with the number of every counted call before it takes effect: a test can take
    // the machine's state there, as a process killed at that call would leave it.
    void SetCallHook(std::function<void(uint64_t n)> hook);

    // ---- Local file system. Paths are case-insensitive, "\" or "/" separated, drives
    // ("C:") and UNC shares ("\\srv\share") are roots; C: exists, the current folder is C:\.
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
    void SetTimeZoneBias(int minutes);             // FileTimeToLocalFileTime adds it
    int OpenFileCount() const;
    // A file system that holds at most this many bytes per file: a write past it stores what
    // fits and reports that short count as a success.
    void SetMaxFileSize(uint64_t bytes);
    // CreateHardLink fails (error 1, as on a file system without links) when false.
    void SetHardLinks(bool supported);

    // ---- Registry
    void AddRegKey(RegRoot root, const std::string& key);
    void SetRegValue(RegRoot root, const std::string& key, const std::string& name, uint32_t type,
                     const std::string& data);
    // Stores the text with its terminating zero, as the registry holds it.
    void SetRegString(RegRoot root, const std::string& key, const std::string& name,
                      const std::string& text, uint32_t type = REG_SZ_);
    void SetRegKeyUnopenable(RegRoot root, const std::string& key);
    void SetRegValueUnreadable(RegRoot root, const std::string& key, const std::string& name,
                               long code = 5);
    int OpenKeyCount() const;

    // ---- Process and system
    void SetEnv(const std::string& name, const std::string& value);
    void UnsetEnv(const std::string& name);
    void SetWindowsDirectory(const std::string& path);
    void SetSystemDirectory(const std::string& path);
    void SetTempPath(const std::string& path);
    void SetModuleFileName(const std::string& path);
    void SetCommandLine(const std::string& cmdLine);
    void SetWinExecResult(uint32_t result);  // 33 unless set
    // Every program start, by WinExec and by StartProcess, in order.
    const std::vector<WinExecCall>& WinExecCalls() const;
    // StartProcess of a file holding exactly `fileBytes`; any other existing file runs on,
    // a missing one cannot be started (2).
    void SetProgramBehaviour(const std::string& fileBytes, const ProgramBehaviour& behaviour);
    // The commands StartProcess was given, and whether crash dialogs were off for them.
    const std::vector<std::pair<std::string, bool>>& ProcessStarts() const;
    uint64_t TotalSleptMs() const;
    const std::vector<uint32_t>& Sleeps() const;
    void SetTicks(uint32_t ticks);
    void AdvanceTicks(uint32_t ms);
    void SetTickStep(uint32_t ms);  // added after every GetTickCount; 10 unless set
    uint32_t Ticks() const;
    void SetLocalTime(const SystemTime& t);
    uint32_t LastError() const;
    void SetVersionInfo(const std::string& path, const VersionInfo& info);
    void SetVersionInfoError(const std::string& path, uint32_t lastError);  // size 0, this error
    const std::vector<std::string>& ShellOpenCalls() const;
    void SetProcessId(uint32_t id);  // 4242 unless set
    // Another process holds the named mutex `name`; it lets go after `waits` Wait calls
    // of this process (never when -1). Each Wait that finds it held lets its time pass.
    void HoldNamedMutex(const std::string& name, int waits = -1);
    bool NamedMutexHeld(const std::string& name);  // by this process or another
    // Names passed to CreateNamedMutex, in order.
    const std::vector<std::string>& NamedMutexNames() const;
    void SetWNetAddResult(uint32_t code);
    void SetWNetCancelResult(uint32_t code);
    const std::vector<WNetAddCall>& WNetAddCalls() const;
    const std::vector<WNetCancelCall>& WNetCancelCalls() const;

    // ---- HTTP server. URLs are matched exactly; an unknown URL cannot be opened (12007).
    void SetHttp(const std::string& url, const HttpResponse& response);
    void SetHttpHandler(const std::string& url,
                        std::function<HttpResponse(const HttpRequest&)> handler);
    void SetHttpFailure(const std::string& url, uint32_t error);  // InternetOpenUrl fails
    void AddHttpHost(const std::string& server);  // accepts uploads (hosts of SetHttp do too)
    void SetUploadStatus(uint32_t status);        // the answer to every upload; 200 unless set
    // Every upload's server (HTTP or FTP) stops taking bytes after this many (see
    // HttpResponse::stallAfter).
    void SetUploadStallAfter(std::optional<uint64_t> bytes);
    // Every FTP download's data connection sends nothing more after this many bytes and stays
    // open: a read then waits out the handle's stall limit.
    void SetFtpDownloadStallAfter(std::optional<uint64_t> bytes);
    // The stall limit last set on a handle that is still open, or on the last one closed.
    std::optional<uint32_t> StallLimitOf(HINTERNET h) const;
    const std::vector<HttpRequest>& HttpRequests() const;
    const std::vector<HttpUpload>& HttpUploads() const;
    const std::vector<SessionOpen>& SessionOpens() const;
    const std::vector<OptionSet>& OptionsSet() const;
    const std::vector<ConnectCall>& ConnectCalls() const;

    // ---- FTP servers: absolute "/" paths, case-sensitive names.
    // Empty user: anonymous logins and any user are accepted.
    void AddFtpServer(const std::string& host, const std::string& user = "",
                      const std::string& password = "", const std::string& loginDir = "/");
    void FtpMakeDirectory(const std::string& host, const std::string& path);  // with parents
    void FtpWriteFile(const std::string& host, const std::string& path, const std::string& bytes,
                      const FileTime& time = MakeFileTime(2024, 1, 2, 3, 4, 5));
    std::optional<std::string> FtpReadFile(const std::string& host, const std::string& path) const;
    bool FtpExists(const std::string& host, const std::string& path) const;
    // Wine's FtpGetFileSize answers 0 for every file; true makes the double do the same.
    void SetFtpFileSizeAlwaysZero(bool zero);
    void SetFtpFaults(const std::string& host, const FtpFaults& faults);
    // Every path of the server's tree below "/", folders with a trailing "/".
    std::vector<std::string> FtpTree(const std::string& host) const;
    // The FTP commands sent with FtpCommand, in order.
    const std::vector<std::string>& FtpCommands() const;

    // Called at the start of every FTP read or write and every HTTP upload write, with the
    // bytes moved through that handle so far.
    void SetTransferHook(std::function<void(uint64_t moved)> hook);
    void SetMessageText(uint32_t code, const std::string& text);  // for FormatMessage
    int OpenHandleCount() const;     // network handles opened and not closed
    int InvalidHandleUses() const;   // calls that got a closed or unknown (non-null) handle

    // ---- Files
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

    // ---- Registry
    RegKey OpenKeyRead(RegRoot root, const std::string& subKey) override;
    long QueryValue(const RegKey& key, const std::string& name, uint32_t& type,
                    std::string& data) override;
    void CloseKey(void* key) override;

    // ---- System
    uint32_t GetEnvironmentVariable(const std::string& name, char* buf, uint32_t size) override;
    std::string GetWindowsDirectory() override;
    std::string GetSystemDirectory() override;
    std::string GetTempPath() override;
    std::string ModuleFileName() override;
    std::string CommandLine() override;
    uint32_t WinExec(const std::string& cmdLine, unsigned show) override;
    std::unique_ptr<Process> StartProcess(const std::string& cmdLine, unsigned show,
                                          bool quietFailures, const std::string& folder) override;
    void Sleep(uint32_t ms) override;
    uint32_t GetTickCount() override;
    uint32_t GetLastError() override;
    void SetLastError(uint32_t code) override;
    uint32_t GetCurrentProcessId() override;
    std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name) override;
    SystemTime GetLocalTime() override;
    uint32_t GetFileVersionInfoSize(const std::string& path) override;
    bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& data) override;
    bool VerQueryValue(const std::vector<uint8_t>& data, const std::string& subBlock,
                       std::string& value) override;
    void ShellOpen(const std::string& path) override;
    uint32_t WNetAddConnection2(const std::string& remoteName, const std::string& password,
                                const std::string& userName) override;
    uint32_t WNetCancelConnection2(const std::string& name, uint32_t flags, bool force) override;
    // A real check (OpenSSL), counted as "VerifyP256Sha256"; an injected failure says no.
    bool VerifyP256Sha256(const std::string& point, const std::string& message,
                          const std::string& signature) override;

    // ---- Network
    InetHandle InternetOpen(const std::string& agent, uint32_t accessType, const char* proxy,
                           const char* bypass, uint32_t flags) override;
    bool InternetCloseHandle(HINTERNET h) override;
    bool InternetSetOption(HINTERNET h, uint32_t option, const std::string& value) override;
    bool InternetSetOption(HINTERNET h, uint32_t option, uint32_t value) override;
    bool SetStallLimit(HINTERNET request, uint32_t ms) override;
    // Asked once when a transfer stalls: true ends the wait as a cancel (12017) at once.
    void SetWaitHook(std::function<bool()> hook) override { waitHook_ = std::move(hook); }
    InetHandle InternetOpenUrl(HINTERNET session, const std::string& url, const char* headers,
                              uint32_t headersLength, uint32_t flags, uintptr_t context) override;
    bool HttpQueryInfo(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* bufferLength,
                       uint32_t* index) override;
    bool InternetReadFile(HINTERNET h, void* buffer, uint32_t toRead, uint32_t* read) override;
    InetHandle InternetConnect(HINTERNET session, const std::string& server, uint16_t port,
                              const char* user, const char* password, uint32_t service,
                              uint32_t flags, uintptr_t context) override;
    InetHandle HttpOpenRequest(HINTERNET connect, const std::string& verb, const std::string& object,
                              uint32_t flags, uintptr_t context) override;
    bool HttpSendRequest(HINTERNET request) override;
    bool HttpSendRequestEx(HINTERNET request, uint32_t totalLength, uint32_t flags) override;
    bool InternetWriteFile(HINTERNET h, const void* buffer, uint32_t toWrite,
                           uint32_t* written) override;
    bool HttpEndRequest(HINTERNET request) override;
    bool FtpGetCurrentDirectory(HINTERNET connect, std::string& dir) override;
    bool FtpSetCurrentDirectory(HINTERNET connect, const std::string& dir) override;
    bool FtpCreateDirectory(HINTERNET connect, const std::string& dir) override;
    InetHandle FtpFindFirstFile(HINTERNET connect, const std::string& search, FindData& data,
                               uint32_t flags, uintptr_t context) override;
    bool InternetFindNextFile(HINTERNET find, FindData& data) override;
    uint32_t FtpGetFileSize(HINTERNET file, uint32_t* high) override;
    InetHandle FtpOpenFile(HINTERNET connect, const std::string& name, uint32_t access,
                          uint32_t flags, uintptr_t context) override;
    bool FtpDeleteFile(HINTERNET connect, const std::string& name) override;
    bool FtpRenameFile(HINTERNET connect, const std::string& from, const std::string& to) override;
    bool FtpCommand(HINTERNET connect, uint32_t flags, const std::string& command) override;
    bool InternetGetLastResponseInfo(uint32_t& error, std::string& text) override;
    bool FormatMessage(uint32_t code, std::string& text) override;

    // Internal: a read or write on a silent server (see HttpResponse::stallAfter).
    bool WaitOutStall(HINTERNET h);
    std::function<bool()> waitHook_;
    // Internal: counts a call; true when it must fail (the last error is then `error`).
    bool Fails(const char* name, const std::string& detail, uint32_t error);
    // Internal: MoveFile, uncounted (a rename through an open handle).
    bool RenameUncounted(const std::string& from, const std::string& to);
    // Internal: the named mutexes (FakeMutex.cpp).
    struct MutexState {
        bool ours = false;        // held by a NamedMutex of this process
        bool other = false;       // held by another process
        int otherWaits = -1;      // Wait calls until the other one lets go; -1: never
    };
    MutexState& Mutex(const std::string& name);

    struct FsState;
    struct RegState;
    struct SysState;
    struct NetState;

private:
    bool Rename(const std::string& from, const std::string& to);  // MoveFile, uncounted

    template <class T>
    T Failed(uint32_t code, T result) {
        lastError_ = code;
        return result;
    }

    struct Calls;
    std::unique_ptr<Calls> calls_;
    std::unique_ptr<FsState> fs_;
    std::unique_ptr<RegState> reg_;
    std::unique_ptr<SysState> sys_;
    std::unique_ptr<NetState> net_;
    uint32_t lastError_ = 0;
};

// A FakePlatform installed for the lifetime of the object (one per test).
class ScopedFakePlatform : public FakePlatform {
public:
    ScopedFakePlatform() { Install(); }
    ~ScopedFakePlatform() override { Uninstall(); }
};

}  // namespace platform::fake
