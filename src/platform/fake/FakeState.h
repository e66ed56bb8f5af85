#pragma once
// State of the test doubles, shared by their .cpp files.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"

namespace platform::fake {

struct FakePlatform::Calls {
    uint64_t count = 0;
    std::vector<std::string> log;
    std::set<uint64_t> failAt;
    struct Named {
        std::string name;
        int remaining;
    };
    std::vector<Named> named;
    std::function<void(uint64_t)> hook;
};

// ---- Local files

// A path split into its root ("C:", "\\srv\share") and folder/file names, as written.
struct ParsedPath {
    std::string root;
    std::vector<std::string> parts;
};

struct FsNode {
    std::string name;  // as created; the root's text for a root
    bool dir = false;
    std::string content;
    uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE; folders carry 0x10
    FileTime created, accessed, written;
    bool locked = false;
    struct Open {
        uint32_t access;  // kRead | kWrite
        uint32_t share;
    };
    std::map<uint64_t, Open> opens;
};

inline constexpr uint32_t kRead = 1, kWrite = 2;

struct FakePlatform::FsState {
    std::map<std::string, std::shared_ptr<FsNode>> nodes;  // by PathKey
    ParsedPath cwd{"C:", {}};
    FileTime now;
    int biasMinutes = 0;
    uint64_t nextOpenId = 1;
    int openFiles = 0;
    uint64_t maxFileSize = UINT64_MAX;
    bool hardLinks = true;
};

// Windows-1252 upper case, as the file system compares names.
std::string UpperName(const std::string& s);
// Resolves `path` against the current folder ("." and ".." removed); false for an empty
// path or a name with a character Windows refuses (error 123 then).
bool ParsePath(const FakePlatform::FsState& fs, const std::string& path, ParsedPath& out,
               bool allowWildcards = false);
// The same with the Win32 error code of a bad path (3 empty, 123 bad name); 0 when it parses.
uint32_t ParsePathCode(const FakePlatform::FsState& fs, const std::string& path, ParsedPath& out,
                       bool allowWildcards);
std::string PathKey(const ParsedPath& p);
// Key of a path for look-ups outside the file system (version resources); the upper-cased
// text when it does not parse.
std::string PathKey(const FakePlatform::FsState& fs, const std::string& path);
// '*' and '?' matching; `ignoreCase` compares as the file system does.
bool WildcardMatch(const std::string& pattern, const std::string& name, bool ignoreCase);

// ---- Registry

struct RegValue {
    uint32_t type = 0;
    std::string data;
    long readError = 0;
};

struct RegKey {
    bool unopenable = false;
    std::map<std::string, RegValue> values;  // by upper-cased name
};

struct FakePlatform::RegState {
    std::map<std::pair<int, std::string>, RegKey> keys;
    std::map<void*, std::pair<int, std::string>> open;
    uint64_t nextHandle = 1;
};

// ---- Process and system

struct VersionEntry {
    std::optional<VersionInfo> info;
    uint32_t error = 0;
};

struct FakePlatform::SysState {
    std::map<std::string, std::pair<std::string, std::string>> env;  // upper name -> (name, value)
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\system32";
    std::string tempPath = "C:\\TEMP\\";
    std::string moduleFileName = "C:\\Program\\starter.exe";
    std::string commandLine = "\"C:\\Program\\starter.exe\"";
    uint32_t winExecResult = 33;
    std::vector<WinExecCall> winExecCalls;
    std::map<std::string, ProgramBehaviour> programs;  // by file bytes
    std::vector<std::pair<std::string, bool>> processStarts;
    std::vector<uint32_t> sleeps;
    uint64_t sleptMs = 0;
    uint32_t ticks = 100000;
    uint32_t tickStep = 10;
    SystemTime localTime = MakeSystemTime(2024, 1, 2, 3, 4, 5);
    std::map<std::string, VersionEntry> versions;  // by PathKey
    std::vector<std::string> shellOpens;
    uint32_t wnetAddResult = 0;
    uint32_t wnetCancelResult = 0;
    std::vector<WNetAddCall> wnetAdds;
    std::vector<WNetCancelCall> wnetCancels;
    uint32_t processId = 4242;
    std::map<std::string, FakePlatform::MutexState> mutexes;
    std::vector<std::string> mutexNames;
};

// ---- Network

struct FtpNode {
    bool dir = false;
    std::string content;
    FileTime time;
};

struct FtpServer {
    std::string host;
    std::string user;
    std::string password;
    std::string loginDir;
    std::map<std::string, FtpNode> nodes;  // by absolute path; "/" is the root folder
    FtpFaults faults;
};

struct NetHandle {
    enum Kind { Session, UrlRequest, Connection, UploadRequest, FtpFind, FtpFile };
    explicit NetHandle(Kind k) : kind(k) {}
    Kind kind;
    HINTERNET parent = nullptr;
    // UrlRequest
    HttpResponse response;
    HttpRequest request;  // what opened it, with the proxy credentials set on it since
    // UrlRequest, FtpFile: bytes moved through the handle
    uint64_t moved = 0;
    // Connection
    uint32_t service = 0;
    std::string server;
    uint16_t port = 0;
    std::string ftpHost;  // key of the FTP server
    std::string cwd;
    HINTERNET openFile = nullptr;  // the connection's file transfer in progress
    // UploadRequest: index in uploads
    size_t upload = 0;
    // FtpFind
    std::vector<FindData> entries;
    size_t next = 0;
    // FtpFile
    std::string path;
    bool writing = false;
    std::string snapshot;  // content when opened for reading
};

struct FakePlatform::NetState {
    std::map<std::string, std::function<HttpResponse(const HttpRequest&)>> http;
    std::map<std::string, uint32_t> httpFailures;
    std::set<std::string> httpHosts;  // upper-cased
    std::vector<HttpRequest> requests;
    std::vector<HttpUpload> uploads;
    uint32_t uploadStatus = 200;
    std::optional<uint64_t> uploadStallAfter;
    std::optional<uint64_t> ftpDownloadStallAfter;
    std::map<HINTERNET, uint32_t> stallLimits;  // as last set, kept after the close
    std::vector<SessionOpen> sessions;
    std::vector<OptionSet> options;
    std::vector<ConnectCall> connects;
    std::map<std::string, FtpServer> ftp;  // by upper-cased host
    bool ftpSizeZero = false;
    std::function<void(uint64_t)> transferHook;
    std::string lastResponse;  // what InternetGetLastResponseInfo gives
    std::vector<std::string> ftpCommands;
    std::map<uint32_t, std::string> messages;
    std::map<HINTERNET, NetHandle> handles;
    uint64_t nextHandle = 1;
    int invalidUses = 0;
};

}  // namespace platform::fake
