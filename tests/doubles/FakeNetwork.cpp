// The doubles' network: a scripted HTTP server, HTTP uploads and small in-memory FTP
// servers, behind WinInet-shaped calls with tracked handles.
#include "doubles/FakeNetwork.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

namespace platform::fake {

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

struct FakeNetwork::State {
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

using NetState = FakeNetwork::State;

namespace {

constexpr uint32_t kErrNotEnoughMemory = 8;
constexpr uint32_t kErrInsufficientBuffer = 122;
constexpr uint32_t kErrMessageNotFound = 317;
constexpr uint32_t kErrIncorrectHandleType = 12018;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;

// The host of a URL, upper-cased, without user, password and port.
std::string HostOfUrl(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::string host = url.substr(start, url.find_first_of("/?#", start) - start);
    const size_t at = host.rfind('@');
    if (at != std::string::npos) host.erase(0, at + 1);
    const size_t colon = host.find(':');
    if (colon != std::string::npos) host.erase(colon);
    return UpperName(host);
}

std::string HttpDate(const SystemTime& t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const SystemTime d = MakeSystemTime(t.wYear, t.wMonth, t.wDay);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[d.wDayOfWeek % 7],
                  unsigned{t.wDay}, kMonths[(t.wMonth + 11) % 12], unsigned{t.wYear},
                  unsigned{t.wHour}, unsigned{t.wMinute}, unsigned{t.wSecond});
    return buf;
}

// ---- FTP paths: absolute, "/" separated, "." and ".." resolved.

std::string FtpResolve(const std::string& cwd, const std::string& path) {
    const std::string full = !path.empty() && path[0] == '/' ? path : cwd + "/" + path;
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= full.size(); ++i) {
        if (i < full.size() && full[i] != '/') continue;
        const std::string part = full.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string r;
    for (const auto& p : parts) r += "/" + p;
    return r.empty() ? "/" : r;
}

std::string FtpParent(const std::string& path) {
    if (path == "/") return "";
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool FtpIsDir(const FtpServer& s, const std::string& path) {
    auto it = s.nodes.find(path);
    return it != s.nodes.end() && it->second.dir;
}

FindData FtpFindData(const std::string& name, const FtpNode& n) {
    FindData d;
    d.dwFileAttributes = n.dir ? FILE_ATTRIBUTE_DIRECTORY_ : 0;  // as Wine's listing parser gives
    d.ftCreationTime = d.ftLastAccessTime = d.ftLastWriteTime = n.time;
    const uint64_t size = n.dir ? 0 : n.content.size();
    d.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
    d.nFileSizeLow = static_cast<uint32_t>(size);
    d.cFileName = name;
    return d;
}

// Entries directly inside `folder` whose names match `mask`, in name order.
std::vector<FindData> FtpList(const FtpServer& s, const std::string& folder, const std::string& mask) {
    std::vector<FindData> found;
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    for (auto it = s.nodes.lower_bound(prefix);
         it != s.nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::string name = it->first.substr(prefix.size());
        if (name.empty() || name.find('/') != std::string::npos) continue;
        if (WildcardMatch(mask, name, false)) found.push_back(FtpFindData(name, it->second));
    }
    return found;
}

void FtpMakeDirs(FtpServer& s, const std::string& path, const FileTime& time) {
    if (path.empty()) return;
    FtpMakeDirs(s, FtpParent(path), time);
    auto& n = s.nodes[path];
    if (!n.dir && !n.content.empty()) throw std::invalid_argument("fake FTP: a file is in the way: " + path);
    if (!n.dir) n = FtpNode{true, "", time};
}

FtpServer& MustFtp(NetState& net, const std::string& host) {
    auto it = net.ftp.find(UpperName(host));
    if (it == net.ftp.end()) throw std::invalid_argument("fake FTP: no server " + host);
    return it->second;
}

// The handle `h` when it is one of `kinds`; otherwise null with the error WinInet gives.
NetHandle* Lookup(NetState& net, HINTERNET h, std::initializer_list<NetHandle::Kind> kinds,
                  uint32_t& error) {
    auto it = net.handles.find(h);
    if (it == net.handles.end()) {
        if (h) ++net.invalidUses;  // null stands for "no handle", as after a failed open
        error = kErrInvalidHandle;
        return nullptr;
    }
    if (std::find(kinds.begin(), kinds.end(), it->second.kind) == kinds.end()) {
        error = kErrIncorrectHandleType;
        return nullptr;
    }
    return &it->second;
}

HINTERNET AddHandle(NetState& net, NetHandle handle) {
    HINTERNET h = reinterpret_cast<HINTERNET>(static_cast<uintptr_t>(0x100000 + 0x10 * net.nextHandle++));
    net.handles.emplace(h, std::move(handle));
    return h;
}

// The server's final reply to a transfer whose handle closes.
void EndTransfer(NetState& net, const NetHandle& conn, const NetHandle& file) {
    auto server = net.ftp.find(conn.ftpHost);
    if (server == net.ftp.end()) return;
    const FtpFaults& faults = server->second.faults;
    if (!faults.transferReply.empty() && faults.transferReply[0] != '2') {
        if (file.writing) server->second.nodes.erase(file.path);
        net.lastResponse = faults.transferReply;
    } else if (!file.writing && file.moved < file.snapshot.size()) {
        net.lastResponse = "426 Transfer aborted.";
    } else {
        net.lastResponse = faults.transferReply.empty() ? "226 Transfer complete." : faults.transferReply;
    }
}

// Closing a handle closes its children too, as WinInet does.
void CloseTree(NetState& net, HINTERNET h) {
    std::vector<HINTERNET> closing{h};
    for (size_t i = 0; i < closing.size(); ++i) {
        for (const auto& entry : net.handles)
            if (entry.second.parent == closing[i]) closing.push_back(entry.first);
    }
    for (HINTERNET c : closing) {
        auto it = net.handles.find(c);
        if (it == net.handles.end()) continue;
        if (it->second.kind == NetHandle::FtpFile) {
            auto conn = net.handles.find(it->second.parent);
            if (conn != net.handles.end() && conn->second.openFile == c) conn->second.openFile = nullptr;
            if (conn != net.handles.end()) EndTransfer(net, conn->second, it->second);
        }
        net.handles.erase(it);
    }
}

}  // namespace

FakeNetwork::FakeNetwork(FakeCalls& calls, FakeFiles& files, FakeSystem& system)
    : FakeService(calls), files_(files), system_(system), net_(std::make_unique<State>()) {
    net_->messages = {
        {12002, "The operation timed out\r\n"},
        {12007, "The server name or address could not be resolved\r\n"},
        {12029, "A connection with the server could not be established\r\n"},
    };
}

FakeNetwork::~FakeNetwork() = default;

// ---- Scene helpers

void FakeNetwork::SetHttp(const std::string& url, const HttpResponse& response) {
    SetHttpHandler(url, [response](const HttpRequest&) { return response; });
}

void FakeNetwork::SetHttpHandler(const std::string& url,
                                  std::function<HttpResponse(const HttpRequest&)> handler) {
    net_->http[url] = std::move(handler);
    net_->httpFailures.erase(url);
    net_->httpHosts.insert(HostOfUrl(url));
}

void FakeNetwork::SetHttpFailure(const std::string& url, uint32_t error) {
    net_->httpFailures[url] = error;
}

void FakeNetwork::AddHttpHost(const std::string& server) { net_->httpHosts.insert(UpperName(server)); }
void FakeNetwork::SetUploadStatus(uint32_t status) { net_->uploadStatus = status; }
const std::vector<HttpRequest>& FakeNetwork::HttpRequests() const { return net_->requests; }
const std::vector<HttpUpload>& FakeNetwork::HttpUploads() const { return net_->uploads; }
const std::vector<SessionOpen>& FakeNetwork::SessionOpens() const { return net_->sessions; }
const std::vector<ConnectCall>& FakeNetwork::ConnectCalls() const { return net_->connects; }

void FakeNetwork::AddFtpServer(const std::string& host, const std::string& user,
                                const std::string& password, const std::string& loginDir) {
    FtpServer s{host, user, password, FtpResolve("/", loginDir), {}, {}};
    s.nodes["/"] = FtpNode{true, "", files_.Now()};
    FtpMakeDirs(s, s.loginDir, files_.Now());
    net_->ftp[UpperName(host)] = std::move(s);
}

void FakeNetwork::FtpMakeDirectory(const std::string& host, const std::string& path) {
    FtpMakeDirs(MustFtp(*net_, host), FtpResolve("/", path), files_.Now());
}

void FakeNetwork::FtpWriteFile(const std::string& host, const std::string& path,
                                const std::string& bytes, const FileTime& time) {
    FtpServer& s = MustFtp(*net_, host);
    const std::string full = FtpResolve("/", path);
    FtpMakeDirs(s, FtpParent(full), files_.Now());
    if (FtpIsDir(s, full)) throw std::invalid_argument("fake FTP: a folder is in the way: " + path);
    s.nodes[full] = FtpNode{false, bytes, time};
}

std::optional<std::string> FakeNetwork::FtpReadFile(const std::string& host,
                                                     const std::string& path) const {
    auto s = net_->ftp.find(UpperName(host));
    if (s == net_->ftp.end()) return std::nullopt;
    auto it = s->second.nodes.find(FtpResolve("/", path));
    if (it == s->second.nodes.end() || it->second.dir) return std::nullopt;
    return it->second.content;
}

bool FakeNetwork::FtpExists(const std::string& host, const std::string& path) const {
    auto s = net_->ftp.find(UpperName(host));
    return s != net_->ftp.end() && s->second.nodes.count(FtpResolve("/", path)) > 0;
}

void FakeNetwork::SetFtpFileSizeAlwaysZero(bool zero) { net_->ftpSizeZero = zero; }

void FakeNetwork::SetFtpFaults(const std::string& host, const FtpFaults& faults) {
    MustFtp(*net_, host).faults = faults;
}

std::vector<std::string> FakeNetwork::FtpTree(const std::string& host) const {
    std::vector<std::string> paths;
    auto s = net_->ftp.find(UpperName(host));
    if (s == net_->ftp.end()) return paths;
    for (const auto& node : s->second.nodes)
        if (node.first != "/") paths.push_back(node.first + (node.second.dir ? "/" : ""));
    return paths;
}

const std::vector<std::string>& FakeNetwork::FtpCommands() const { return net_->ftpCommands; }
void FakeNetwork::SetTransferHook(std::function<void(uint64_t)> hook) { net_->transferHook = std::move(hook); }
void FakeNetwork::SetMessageText(uint32_t code, const std::string& text) { net_->messages[code] = text; }
int FakeNetwork::OpenHandleCount() const { return static_cast<int>(net_->handles.size()); }
int FakeNetwork::InvalidHandleUses() const { return net_->invalidUses; }

// ---- Session, HTTP download

InetHandle FakeNetwork::InternetOpen(const std::string& agent, uint32_t accessType, const char* proxy,
                                     const char* bypass, uint32_t flags) {
    SessionOpen rec{agent, accessType, std::nullopt, std::nullopt, flags};
    if (proxy) rec.proxy = proxy;
    if (bypass) rec.bypass = bypass;
    net_->sessions.push_back(rec);
    if (Fails("InternetOpen", agent, kErrNotEnoughMemory)) return nullptr;
    NetHandle h{NetHandle::Session};
    return OwnHandle(AddHandle(*net_, std::move(h)));
}

bool FakeNetwork::InternetCloseHandle(HINTERNET h) {
    const bool fail = Fails("InternetCloseHandle", "", kErrInvalidHandle);
    if (!net_->handles.count(h)) {
        if (h) ++net_->invalidUses;
        return Failed(kErrInvalidHandle, false);
    }
    CloseTree(*net_, h);
    return !fail;
}

bool FakeNetwork::InternetSetOption(HINTERNET h, uint32_t option, const std::string& value) {
    if (Fails("InternetSetOption", std::to_string(option), kErrInvalidParameter)) return false;
    uint32_t error = 0;
    NetHandle* n = Lookup(*net_, h, {NetHandle::Session, NetHandle::UrlRequest}, error);
    if (!n) return Failed(error, false);
    net_->options.push_back({h, option, value});
    if (n->kind == NetHandle::UrlRequest && option == INTERNET_OPTION_PROXY_USERNAME)
        n->request.proxyUser = value;
    if (n->kind == NetHandle::UrlRequest && option == INTERNET_OPTION_PROXY_PASSWORD)
        n->request.proxyPassword = value;
    return true;
}

bool FakeNetwork::InternetSetOption(HINTERNET h, uint32_t option, uint32_t value) {
    if (Fails("InternetSetOption", std::to_string(option), kErrInvalidParameter)) return false;
    uint32_t error = 0;
    if (!Lookup(*net_, h, {NetHandle::Session, NetHandle::UrlRequest, NetHandle::UploadRequest}, error))
        return Failed(error, false);
    net_->options.push_back({h, option, std::to_string(value)});
    return true;
}

bool FakeNetwork::SetStallLimit(HINTERNET request, uint32_t ms) {
    if (Fails("SetStallLimit", std::to_string(ms), kErrInvalidParameter)) return false;
    uint32_t error = 0;
    if (!Lookup(*net_, request,
                {NetHandle::Session, NetHandle::UrlRequest, NetHandle::UploadRequest, NetHandle::FtpFile},
                error))
        return Failed(error, false);
    net_->stallLimits[request] = ms;
    return true;
}

void FakeNetwork::SetUploadStallAfter(std::optional<uint64_t> bytes) { net_->uploadStallAfter = bytes; }

void FakeNetwork::SetFtpDownloadStallAfter(std::optional<uint64_t> bytes) {
    net_->ftpDownloadStallAfter = bytes;
}

std::optional<uint32_t> FakeNetwork::StallLimitOf(HINTERNET h) const {
    auto it = net_->stallLimits.find(h);
    if (it == net_->stallLimits.end()) return std::nullopt;
    return it->second;
}

// A server that went silent: the read or write waits out the handle's stall limit.
bool FakeNetwork::WaitOutStall(HINTERNET h) {
    if (waitHook_ && waitHook_()) return Failed(12017, false);
    auto it = net_->stallLimits.find(h);
    if (it == net_->stallLimits.end() || it->second == 0)
        throw std::logic_error("fake network: a transfer waits for ever on a silent server");
    system_.AdvanceTicks(it->second);
    return Failed(kErrInternetTimeout, false);
}

bool FakeNetwork::HttpSendRequest(HINTERNET h) {
    if (Fails("HttpSendRequest", "", kErrInternetCannotConnect)) return false;
    uint32_t error = 0;
    NetHandle* n = Lookup(*net_, h, {NetHandle::UrlRequest}, error);
    if (!n) return Failed(error, false);
    net_->requests.push_back(n->request);
    n->response = net_->http.at(n->request.url)(n->request);
    n->moved = 0;
    return true;
}

const std::vector<OptionSet>& FakeNetwork::OptionsSet() const { return net_->options; }

InetHandle FakeNetwork::InternetOpenUrl(HINTERNET session, const std::string& url, const char* headers,
                                        uint32_t headersLength, uint32_t flags, uintptr_t) {
    HttpRequest request{url, "", flags, "", ""};
    if (headers)
        request.headers = headersLength == 0xFFFFFFFFu ? std::string(headers)
                                                       : std::string(headers, headersLength);
    net_->requests.push_back(request);
    if (Fails("InternetOpenUrl", url, kErrInternetCannotConnect)) return nullptr;
    uint32_t error = 0;
    if (!Lookup(*net_, session, {NetHandle::Session}, error)) return Failed(error, nullptr);
    auto failure = net_->httpFailures.find(url);
    if (failure != net_->httpFailures.end()) return Failed(failure->second, nullptr);
    auto script = net_->http.find(url);
    if (script == net_->http.end()) return Failed(kErrInternetNameNotResolved, nullptr);
    NetHandle h{NetHandle::UrlRequest};
    h.parent = session;
    h.request = request;
    h.response = script->second(request);
    if (h.response.silent) {
        WaitOutStall(session);
        return nullptr;
    }
    return OwnHandle(AddHandle(*net_, std::move(h)));
}

bool FakeNetwork::HttpQueryInfo(HINTERNET request, uint32_t infoLevel, void* buffer,
                                 uint32_t* bufferLength, uint32_t* index) {
    if (Fails("HttpQueryInfo", std::to_string(infoLevel & 0xFFFF), kErrHttpHeaderNotFound)) return false;
    uint32_t error = 0;
    NetHandle* h = Lookup(*net_, request, {NetHandle::UrlRequest, NetHandle::UploadRequest}, error);
    if (!h) return Failed(error, false);
    if (!bufferLength) return Failed(kErrInvalidParameter, false);
    if (index && *index != 0) return Failed(kErrHttpHeaderNotFound, false);
    HttpResponse answer;  // an upload's: its status and no body, once the request has ended
    if (h->kind == NetHandle::UploadRequest) {
        if (!net_->uploads[h->upload].ended) return Failed(kErrInternetIncorrectHandleState, false);
        answer.status = net_->uploadStatus;
    }
    const HttpResponse& r = h->kind == NetHandle::UploadRequest ? answer : h->response;
    std::optional<uint64_t> number;
    std::optional<SystemTime> time;
    std::string text;
    switch (infoLevel & 0xFFFF) {
    case HTTP_QUERY_STATUS_CODE:
        if (r.statusUnreadable) return Failed(kErrInternetIncorrectHandleState, false);
        number = r.status;
        break;
    case HTTP_QUERY_LOCATION:
        if (!r.location) return Failed(kErrHttpHeaderNotFound, false);
        text = *r.location;
        break;
    case HTTP_QUERY_ETAG:
        if (!r.etag) return Failed(kErrHttpHeaderNotFound, false);
        text = *r.etag;
        break;
    case HTTP_QUERY_CONTENT_RANGE:
        if (!r.contentRange) return Failed(kErrHttpHeaderNotFound, false);
        text = *r.contentRange;
        break;
    case HTTP_QUERY_CONTENT_LENGTH:
        if (!r.hasContentLength) return Failed(kErrHttpHeaderNotFound, false);
        number = r.contentLength.value_or(r.body.size());
        break;
    case HTTP_QUERY_LAST_MODIFIED:
        if (r.lastModifiedText) {
            if (infoLevel & HTTP_QUERY_FLAG_SYSTEMTIME) return Failed(kErrInternetIncorrectHandleState, false);
            text = *r.lastModifiedText;
            break;
        }
        if (!r.lastModified) return Failed(kErrHttpHeaderNotFound, false);
        time = *r.lastModified;
        text = HttpDate(*r.lastModified);
        break;
    default:
        return Failed(kErrHttpHeaderNotFound, false);
    }
    if (number) text = std::to_string(*number);
    if (infoLevel & HTTP_QUERY_FLAG_NUMBER) {
        if (!number) return Failed(kErrHttpHeaderNotFound, false);
        // Wine insists on exactly the size of a DWORD.
        if (*bufferLength != sizeof(uint32_t) || !buffer) {
            *bufferLength = sizeof(uint32_t);
            return Failed(kErrInsufficientBuffer, false);
        }
        const auto low = static_cast<uint32_t>(*number);
        std::memcpy(buffer, &low, sizeof low);
    } else if (infoLevel & HTTP_QUERY_FLAG_SYSTEMTIME) {
        if (!time) return Failed(kErrHttpHeaderNotFound, false);
        const uint16_t fields[8] = {time->wYear, time->wMonth, time->wDayOfWeek, time->wDay,
                                    time->wHour, time->wMinute, time->wSecond, time->wMilliseconds};
        if (*bufferLength < sizeof fields || !buffer) {
            *bufferLength = sizeof fields;
            return Failed(kErrInsufficientBuffer, false);
        }
        std::memcpy(buffer, fields, sizeof fields);
        *bufferLength = sizeof fields;
    } else {
        if (*bufferLength < text.size() + 1 || !buffer) {
            *bufferLength = static_cast<uint32_t>(text.size() + 1);
            return Failed(kErrInsufficientBuffer, false);
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *bufferLength = static_cast<uint32_t>(text.size());
    }
    if (index) *index = 1;
    return true;
}

bool FakeNetwork::InternetReadFile(HINTERNET h, void* buffer, uint32_t toRead, uint32_t* read) {
    if (read) *read = 0;
    if (Fails("InternetReadFile", std::to_string(toRead), kErrInternetConnectionAborted)) return false;
    uint32_t error = 0;
    NetHandle* handle = Lookup(*net_, h, {NetHandle::UrlRequest, NetHandle::FtpFile}, error);
    if (!handle) return Failed(error, false);
    if (handle->kind == NetHandle::FtpFile && handle->writing)
        return Failed(kErrInternetIncorrectHandleState, false);
    // The callbacks may act on the platform; look the handle up again afterwards.
    const uint64_t moved = handle->moved;
    if (handle->kind == NetHandle::UrlRequest) {
        if (auto onRead = handle->response.onRead) onRead(moved);
    } else if (net_->transferHook) {
        net_->transferHook(moved);
    }
    handle = Lookup(*net_, h, {NetHandle::UrlRequest, NetHandle::FtpFile}, error);
    if (!handle) return Failed(error, false);
    uint64_t limit;
    if (handle->kind == NetHandle::UrlRequest) {
        const HttpResponse& r = handle->response;
        if (r.failReadAfter && handle->moved >= *r.failReadAfter) return Failed(r.failReadError, false);
        if (r.stallAfter && handle->moved >= *r.stallAfter && handle->moved < r.body.size())
            return WaitOutStall(h);
        limit = std::min<uint64_t>({r.body.size(), r.failReadAfter.value_or(UINT64_MAX),
                                    r.stallAfter.value_or(UINT64_MAX)});
        if (r.readSize) toRead = std::min(toRead, *r.readSize);
    } else {
        limit = handle->snapshot.size();
        const FtpServer& s = net_->ftp.at(net_->handles.at(handle->parent).ftpHost);
        if (s.faults.cutAfter) limit = std::min(limit, *s.faults.cutAfter);
        if (const auto stall = net_->ftpDownloadStallAfter) {
            if (handle->moved >= *stall && handle->moved < limit) return WaitOutStall(h);
            limit = std::min(limit, *stall);
        }
    }
    const std::string& source = handle->kind == NetHandle::UrlRequest ? handle->response.body : handle->snapshot;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(toRead, limit - std::min(limit, handle->moved)));
    if (n) std::memcpy(buffer, source.data() + handle->moved, n);
    handle->moved += n;
    if (read) *read = n;
    return true;
}

// ---- Connections and HTTP upload

InetHandle FakeNetwork::InternetConnect(HINTERNET session, const std::string& server, uint16_t port,
                                        const char* user, const char* password, uint32_t service,
                                        uint32_t flags, uintptr_t) {
    ConnectCall rec{server, port, std::nullopt, std::nullopt, service, flags, false};
    if (user) rec.user = user;
    if (password) rec.password = password;
    net_->connects.push_back(rec);
    if (Fails("InternetConnect", server, kErrInternetCannotConnect)) return nullptr;
    uint32_t error = 0;
    if (!Lookup(*net_, session, {NetHandle::Session}, error)) return Failed(error, nullptr);
    NetHandle h{NetHandle::Connection};
    h.parent = session;
    h.service = service;
    h.server = server;
    h.port = port;
    if (service == INTERNET_SERVICE_FTP) {
        auto it = net_->ftp.find(UpperName(server));
        if (it == net_->ftp.end()) return Failed(kErrInternetNameNotResolved, nullptr);
        const FtpServer& s = it->second;
        if (!s.user.empty() &&
            (std::string(user ? user : "anonymous") != s.user || std::string(password ? password : "") != s.password))
            return Failed(kErrInternetLoginFailure, nullptr);
        h.ftpHost = it->first;
        h.cwd = s.loginDir;
    } else if (service != INTERNET_SERVICE_HTTP) {
        return Failed(kErrInvalidParameter, nullptr);
    }
    net_->connects.back().succeeded = true;
    return OwnHandle(AddHandle(*net_, std::move(h)));
}

InetHandle FakeNetwork::HttpOpenRequest(HINTERNET connect, const std::string& verb,
                                        const std::string& object, uint32_t flags, uintptr_t) {
    if (Fails("HttpOpenRequest", verb + " " + object, kErrInternetCannotConnect)) return nullptr;
    uint32_t error = 0;
    NetHandle* conn = Lookup(*net_, connect, {NetHandle::Connection}, error);
    if (!conn) return Failed(error, nullptr);
    if (conn->service != INTERNET_SERVICE_HTTP) return Failed(kErrIncorrectHandleType, nullptr);
    HttpUpload upload;
    upload.server = conn->server;
    upload.port = conn->port;
    upload.verb = verb;
    upload.object = object;
    upload.openFlags = flags;
    net_->uploads.push_back(upload);
    NetHandle h{NetHandle::UploadRequest};
    h.parent = connect;
    h.upload = net_->uploads.size() - 1;
    return OwnHandle(AddHandle(*net_, std::move(h)));
}

bool FakeNetwork::HttpSendRequestEx(HINTERNET request, uint32_t totalLength, uint32_t flags) {
    if (Fails("HttpSendRequestEx", std::to_string(totalLength), kErrInternetCannotConnect)) return false;
    uint32_t error = 0;
    NetHandle* h = Lookup(*net_, request, {NetHandle::UploadRequest}, error);
    if (!h) return Failed(error, false);
    HttpUpload& upload = net_->uploads[h->upload];
    if (upload.sent) return Failed(kErrInternetIncorrectHandleState, false);
    if (!net_->httpHosts.count(UpperName(upload.server))) return Failed(kErrInternetNameNotResolved, false);
    upload.totalLength = totalLength;
    upload.sendFlags = flags;
    upload.sent = true;
    return true;
}

bool FakeNetwork::InternetWriteFile(HINTERNET h, const void* buffer, uint32_t toWrite,
                                     uint32_t* written) {
    if (written) *written = 0;
    if (Fails("InternetWriteFile", std::to_string(toWrite), kErrInternetConnectionAborted)) return false;
    uint32_t error = 0;
    NetHandle* handle = Lookup(*net_, h, {NetHandle::UploadRequest, NetHandle::FtpFile}, error);
    if (!handle) return Failed(error, false);
    if (handle->kind == NetHandle::FtpFile ? !handle->writing
                                           : !net_->uploads[handle->upload].sent ||
                                                 net_->uploads[handle->upload].ended)
        return Failed(kErrInternetIncorrectHandleState, false);
    if (net_->transferHook) {
        net_->transferHook(handle->moved);
        handle = Lookup(*net_, h, {NetHandle::UploadRequest, NetHandle::FtpFile}, error);
        if (!handle) return Failed(error, false);
    }
    if (net_->uploadStallAfter &&
        handle->moved + toWrite > *net_->uploadStallAfter)
        return WaitOutStall(h);
    const std::string bytes(static_cast<const char*>(buffer), toWrite);
    if (handle->kind == NetHandle::UploadRequest) {
        HttpUpload& upload = net_->uploads[handle->upload];
        upload.body += bytes;
        upload.writeSizes.push_back(toWrite);
    } else {
        auto conn = net_->handles.find(handle->parent);
        FtpServer& s = net_->ftp.at(conn->second.ftpHost);
        s.nodes[handle->path].content += bytes;
    }
    handle->moved += toWrite;
    if (written) *written = toWrite;
    return true;
}

bool FakeNetwork::HttpEndRequest(HINTERNET request) {
    if (Fails("HttpEndRequest", "", kErrInternetConnectionAborted)) return false;
    uint32_t error = 0;
    NetHandle* h = Lookup(*net_, request, {NetHandle::UploadRequest}, error);
    if (!h) return Failed(error, false);
    HttpUpload& upload = net_->uploads[h->upload];
    if (!upload.sent || upload.ended) return Failed(kErrInternetIncorrectHandleState, false);
    upload.ended = true;
    return true;
}

// ---- FTP

namespace {

// An FTP connection that is free for a command; a file transfer in progress blocks it.
NetHandle* FtpConnection(NetState& net, HINTERNET connect, uint32_t& error) {
    NetHandle* conn = Lookup(net, connect, {NetHandle::Connection}, error);
    if (!conn) return nullptr;
    if (conn->service != INTERNET_SERVICE_FTP) {
        error = kErrIncorrectHandleType;
        return nullptr;
    }
    if (conn->openFile && net.handles.count(conn->openFile)) {
        error = kErrFtpTransferInProgress;
        return nullptr;
    }
    return conn;
}

}  // namespace

bool FakeNetwork::FtpGetCurrentDirectory(HINTERNET connect, std::string& dir) {
    if (Fails("FtpGetCurrentDirectory", "", kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    dir = conn->cwd;
    return true;
}

bool FakeNetwork::FtpSetCurrentDirectory(HINTERNET connect, const std::string& dir) {
    if (Fails("FtpSetCurrentDirectory", dir, kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    const std::string path = FtpResolve(conn->cwd, dir);
    if (dir.empty() || !FtpIsDir(net_->ftp.at(conn->ftpHost), path))
        return Failed(kErrInternetExtendedError, false);
    conn->cwd = path;
    return true;
}

bool FakeNetwork::FtpCreateDirectory(HINTERNET connect, const std::string& dir) {
    if (Fails("FtpCreateDirectory", dir, kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    FtpServer& s = net_->ftp.at(conn->ftpHost);
    const std::string path = FtpResolve(conn->cwd, dir);
    if (dir.empty() || s.nodes.count(path) || !FtpIsDir(s, FtpParent(path)))
        return Failed(kErrInternetExtendedError, false);
    s.nodes[path] = FtpNode{true, "", files_.Now()};
    return true;
}

InetHandle FakeNetwork::FtpFindFirstFile(HINTERNET connect, const std::string& search, FindData& data,
                                         uint32_t, uintptr_t) {
    if (Fails("FtpFindFirstFile", search, kErrInternetExtendedError)) return nullptr;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, nullptr);
    const FtpServer& s = net_->ftp.at(conn->ftpHost);
    if (s.faults.listRefused) return Failed(kErrInternetExtendedError, nullptr);
    std::string folder = conn->cwd, mask = search;
    const size_t slash = search.rfind('/');
    if (slash != std::string::npos) {
        folder = FtpResolve(conn->cwd, search.substr(0, slash + 1));
        mask = search.substr(slash + 1);
    }
    // LIST of a folder name lists the folder.
    if (!mask.empty() && mask.find_first_of("*?") == std::string::npos &&
        FtpIsDir(s, FtpResolve(folder, mask))) {
        folder = FtpResolve(folder, mask);
        mask.clear();
    }
    if (mask.empty()) mask = "*";
    std::vector<FindData> entries;
    if (FtpIsDir(s, folder)) entries = FtpList(s, folder, mask);
    if (entries.empty()) return Failed(kErrNoMoreFiles, nullptr);
    if (s.faults.listedSize)
        for (FindData& entry : entries)
            if (!(entry.dwFileAttributes & 0x10)) {
                entry.nFileSizeHigh = static_cast<uint32_t>(*s.faults.listedSize >> 32);
                entry.nFileSizeLow = static_cast<uint32_t>(*s.faults.listedSize);
            }
    data = entries.front();
    NetHandle h{NetHandle::FtpFind};
    h.parent = connect;
    h.entries = std::move(entries);
    h.next = 1;
    return OwnHandle(AddHandle(*net_, std::move(h)));
}

bool FakeNetwork::InternetFindNextFile(HINTERNET find, FindData& data) {
    if (Fails("InternetFindNextFile", "", kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* h = Lookup(*net_, find, {NetHandle::FtpFind}, error);
    if (!h) return Failed(error, false);
    if (h->next >= h->entries.size()) return Failed(kErrNoMoreFiles, false);
    data = h->entries[h->next++];
    return true;
}

uint32_t FakeNetwork::FtpGetFileSize(HINTERNET file, uint32_t* high) {
    if (high) *high = 0;
    if (Fails("FtpGetFileSize", "", kErrInternetExtendedError)) return kInvalidFileSize;
    uint32_t error = 0;
    NetHandle* h = Lookup(*net_, file, {NetHandle::FtpFile}, error);
    if (!h) return Failed(error, kInvalidFileSize);
    if (net_->ftpSizeZero) return 0;
    uint64_t size = h->snapshot.size();
    if (h->writing) {
        const FtpServer& s = net_->ftp.at(net_->handles.at(h->parent).ftpHost);
        auto it = s.nodes.find(h->path);
        size = it == s.nodes.end() ? 0 : it->second.content.size();
    }
    if (high) *high = static_cast<uint32_t>(size >> 32);
    return static_cast<uint32_t>(size);
}

InetHandle FakeNetwork::FtpOpenFile(HINTERNET connect, const std::string& name, uint32_t access,
                                    uint32_t, uintptr_t) {
    if (Fails("FtpOpenFile", name, kErrInternetExtendedError)) return nullptr;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, nullptr);
    if (access != GENERIC_READ_ && access != GENERIC_WRITE_) return Failed(kErrInvalidParameter, nullptr);
    FtpServer& s = net_->ftp.at(conn->ftpHost);
    const std::string path = FtpResolve(conn->cwd, name);
    auto it = s.nodes.find(path);
    NetHandle h{NetHandle::FtpFile};
    h.parent = connect;
    h.path = path;
    h.writing = access == GENERIC_WRITE_;
    if (h.writing) {
        if (name.empty() || (it != s.nodes.end() && it->second.dir) || !FtpIsDir(s, FtpParent(path)))
            return Failed(kErrInternetExtendedError, nullptr);
        s.nodes[path] = FtpNode{false, "", files_.Now()};
    } else {
        if (name.empty() || it == s.nodes.end() || it->second.dir)
            return Failed(kErrInternetExtendedError, nullptr);
        h.snapshot = it->second.content;
    }
    HINTERNET file = AddHandle(*net_, std::move(h));
    net_->handles.at(connect).openFile = file;
    return OwnHandle(file);
}

bool FakeNetwork::FtpDeleteFile(HINTERNET connect, const std::string& name) {
    if (Fails("FtpDeleteFile", name, kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    FtpServer& s = net_->ftp.at(conn->ftpHost);
    auto it = s.nodes.find(FtpResolve(conn->cwd, name));
    if (name.empty() || it == s.nodes.end() || it->second.dir)
        return Failed(kErrInternetExtendedError, false);
    s.nodes.erase(it);
    return true;
}

bool FakeNetwork::FtpRenameFile(HINTERNET connect, const std::string& from, const std::string& to) {
    if (Fails("FtpRenameFile", from + " " + to, kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    FtpServer& s = net_->ftp.at(conn->ftpHost);
    const std::string source = FtpResolve(conn->cwd, from), target = FtpResolve(conn->cwd, to);
    auto it = s.nodes.find(source);
    auto there = s.nodes.find(target);
    if (s.faults.renameRefused || from.empty() || to.empty() || it == s.nodes.end() || it->second.dir ||
        (there != s.nodes.end() && there->second.dir) || !FtpIsDir(s, FtpParent(target))) {
        net_->lastResponse = "550 Rename refused.";
        return Failed(kErrInternetExtendedError, false);
    }
    FtpNode node = it->second;
    s.nodes.erase(it);
    s.nodes[target] = node;
    net_->lastResponse = "250 Renamed.";
    return true;
}

bool FakeNetwork::FtpCommand(HINTERNET connect, uint32_t, const std::string& command) {
    if (Fails("FtpCommand", command, kErrInternetExtendedError)) return false;
    uint32_t error = 0;
    NetHandle* conn = FtpConnection(*net_, connect, error);
    if (!conn) return Failed(error, false);
    net_->ftpCommands.push_back(command);
    const FtpServer& s = net_->ftp.at(conn->ftpHost);
    if (command == "TYPE I") {
        net_->lastResponse = "200 Type set to: Binary.";
        return true;
    }
    if (command.rfind("SIZE ", 0) == 0 && !s.faults.sizeRefused) {
        auto it = s.nodes.find(FtpResolve(conn->cwd, command.substr(5)));
        if (it != s.nodes.end() && !it->second.dir) {
            net_->lastResponse = "213 " + std::to_string(it->second.content.size());
            return true;
        }
    }
    net_->lastResponse = "550 Not available.";
    return Failed(kErrInternetExtendedError, false);
}

bool FakeNetwork::InternetGetLastResponseInfo(uint32_t& error, std::string& text) {
    if (Fails("InternetGetLastResponseInfo", "", kErrInsufficientBuffer)) return false;
    error = 0;
    text = net_->lastResponse;
    return true;
}

bool FakeNetwork::FormatMessage(uint32_t code, std::string& text) {
    if (Fails("FormatMessage", std::to_string(code), kErrMessageNotFound)) return false;
    auto it = net_->messages.find(code);
    if (it == net_->messages.end()) return Failed(kErrMessageNotFound, false);
    text = it->second;
    return true;
}

}  // namespace platform::fake
