#pragma once
// The double of the network: a scripted HTTP server, HTTP uploads and small in-memory FTP
// servers, behind WinInet-shaped calls with tracked handles. The scene helpers are not
// counted. Network handles must not outlive it.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doubles/FakeCalls.h"
#include "doubles/FakeFiles.h"
#include "doubles/FakeSystem.h"
#include "platform/NetTypes.h"

namespace platform::fake {

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

class FakeNetwork : public Network, private FakeService {
public:
    // FTP files are stamped with the time of `files`; a wait on a silent server passes on
    // the ticks of `system`.
    FakeNetwork(FakeCalls& calls, FakeFiles& files, FakeSystem& system);
    ~FakeNetwork() override;
    FakeNetwork(const FakeNetwork&) = delete;
    FakeNetwork& operator=(const FakeNetwork&) = delete;

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

    struct State;

private:
    // A read or write on a silent server (see HttpResponse::stallAfter).
    bool WaitOutStall(HINTERNET h);

    FakeFiles& files_;
    FakeSystem& system_;
    std::function<bool()> waitHook_;
    std::unique_ptr<State> net_;
};

}  // namespace platform::fake
