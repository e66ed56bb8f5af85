#pragma once
// WinInet-shaped network interface: the calls the transfer operations make, with the
// Win32 values, so the operations read like the calls they stand for.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Owned.h"

namespace platform {

struct FileTime {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

struct SystemTime {
    uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
    uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

struct FindData {  // WIN32_FIND_DATAA, the fields that matter
    uint32_t dwFileAttributes = 0;
    FileTime ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    uint32_t nFileSizeHigh = 0, nFileSizeLow = 0;
    std::string cFileName;
};

using HINTERNET = void*;

class Network;
// An open WinInet handle. WinInet closes children with their parent, so an owner must let a
// child go before its parent (declare the parent first).
using InetHandle = Owned<Network>;

inline constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
inline constexpr uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000u;
inline constexpr uint32_t INTERNET_FLAG_PASSIVE = 0x08000000u;
inline constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000u;
inline constexpr uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000u;
inline constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr uint32_t INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr uint32_t INTERNET_OPTION_PROXY_PASSWORD = 44;
inline constexpr uint32_t INTERNET_SERVICE_FTP = 1;
inline constexpr uint32_t INTERNET_SERVICE_HTTP = 3;
inline constexpr uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;
inline constexpr uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr uint32_t HTTP_QUERY_VERSION = 18;
inline constexpr uint32_t HTTP_QUERY_CONNECTION = 23;
inline constexpr uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr uint32_t HTTP_QUERY_LOCATION = 33;
inline constexpr uint32_t HTTP_QUERY_CONTENT_RANGE = 53;
inline constexpr uint32_t HTTP_QUERY_ETAG = 54;
inline constexpr uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000u;
inline constexpr uint32_t HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000u;
inline constexpr uint32_t HSR_INITIATE = 8;
inline constexpr uint32_t FTP_TRANSFER_TYPE_BINARY = 2;
inline constexpr uint32_t GENERIC_READ_ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE_ = 0x40000000u;
inline constexpr uint32_t ERROR_INTERNET_TIMEOUT_ = 12002;
inline constexpr uint32_t ERROR_INTERNET_OPERATION_CANCELLED_ = 12017;

// Calls that open a handle hand it out owned; the others take the raw handle (`.get()`).
class Network {
public:
    virtual ~Network() = default;
    virtual InetHandle InternetOpen(const std::string& agent, uint32_t accessType,
                                   const char* proxy, const char* bypass, uint32_t flags) = 0;
    // What an InetHandle calls; the rest of the system closes by resetting its handle.
    virtual bool InternetCloseHandle(HINTERNET h) = 0;
    // InternetSetOptionA with a text value (the proxy's user name and password on a request).
    virtual bool InternetSetOption(HINTERNET h, uint32_t option, const std::string& value) = 0;
    // InternetSetOptionA with a DWORD value (the time-outs, in milliseconds).
    virtual bool InternetSetOption(HINTERNET h, uint32_t option, uint32_t value) = 0;
    // From now on a read (InternetReadFile) or write (InternetWriteFile) on `request` that
    // moves no byte for `ms` milliseconds fails with ERROR_INTERNET_TIMEOUT_; 0 lifts the
    // limit. On a session: every other call that waits for a server (connect, greeting,
    // replies, listings, request answers, the close of a transfer) fails so when it has not
    // ended within `ms`. Holds where the library's own time-outs do not (Wine has none for
    // reads).
    virtual bool SetStallLimit(HINTERNET handle, uint32_t ms) = 0;
    // Called on the calling thread, at least every 50 ms, while any call waits for a server;
    // true (for 0.4 s: a call about to end may still end) gives the call up with
    // ERROR_INTERNET_OPERATION_CANCELLED_. Empty: none.
    // A connection whose call was given up on (cancelled or past its limit) serves no
    // further call: each fails at once with the same error.
    virtual void SetWaitHook(std::function<bool()> hook) = 0;
    virtual InetHandle InternetOpenUrl(HINTERNET session, const std::string& url,
                                      const char* headers, uint32_t headersLength,
                                      uint32_t flags, uintptr_t context) = 0;
    // Win32 shape: buffer and length in/out.
    virtual bool HttpQueryInfo(HINTERNET request, uint32_t infoLevel, void* buffer,
                               uint32_t* bufferLength, uint32_t* index) = 0;
    virtual bool InternetReadFile(HINTERNET h, void* buffer, uint32_t toRead, uint32_t* read) = 0;
    virtual InetHandle InternetConnect(HINTERNET session, const std::string& server, uint16_t port,
                                      const char* user, const char* password, uint32_t service,
                                      uint32_t flags, uintptr_t context) = 0;
    virtual InetHandle HttpOpenRequest(HINTERNET connect, const std::string& verb,
                                      const std::string& object, uint32_t flags,
                                      uintptr_t context) = 0;
    // HttpSendRequestA without extra headers or body: sends a request again (after its
    // options changed).
    virtual bool HttpSendRequest(HINTERNET request) = 0;
    // HttpSendRequestExA with an INTERNET_BUFFERS whose dwBufferTotal is `totalLength`.
    virtual bool HttpSendRequestEx(HINTERNET request, uint32_t totalLength, uint32_t flags) = 0;

    virtual bool InternetWriteFile(HINTERNET h, const void* buffer, uint32_t toWrite,
                                   uint32_t* written) = 0;
    virtual bool HttpEndRequest(HINTERNET request) = 0;
    // FTP.
    virtual bool FtpGetCurrentDirectory(HINTERNET connect, std::string& dir) = 0;
    virtual bool FtpSetCurrentDirectory(HINTERNET connect, const std::string& dir) = 0;
    virtual bool FtpCreateDirectory(HINTERNET connect, const std::string& dir) = 0;
    virtual InetHandle FtpFindFirstFile(HINTERNET connect, const std::string& search,
                                       FindData& data, uint32_t flags, uintptr_t context) = 0;
    virtual bool InternetFindNextFile(HINTERNET find, FindData& data) = 0;
    virtual uint32_t FtpGetFileSize(HINTERNET file, uint32_t* high) = 0;
    virtual InetHandle FtpOpenFile(HINTERNET connect, const std::string& name, uint32_t access,
                                  uint32_t flags, uintptr_t context) = 0;
    virtual bool FtpDeleteFile(HINTERNET connect, const std::string& name) = 0;
    // RNFR + RNTO; most servers replace a file already called `to`.
    virtual bool FtpRenameFile(HINTERNET connect, const std::string& from, const std::string& to) = 0;
    // FtpCommandA without a data connection (fExpectResponse FALSE): sends one command line;
    // the server's reply is then InternetGetLastResponseInfo's text.
    virtual bool FtpCommand(HINTERNET connect, uint32_t flags, const std::string& command) = 0;
    // InternetGetLastResponseInfoA: the last reply text the network library read on this
    // thread (the reply that ends a data transfer included, once its handle is closed).
    virtual bool InternetGetLastResponseInfo(uint32_t& error, std::string& text) = 0;
    // FormatMessageA from wininet.dll's message table; false when it has no such message.
    virtual bool FormatMessage(uint32_t code, std::string& text) = 0;

protected:
    InetHandle OwnHandle(HINTERNET h) { return InetHandle(this, h); }
};

inline bool CloseOwned(Network& net, HINTERNET h) { return net.InternetCloseHandle(h); }

}  // namespace platform
