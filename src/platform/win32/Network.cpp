// WinInet through thin wrappers. Body reads get a read-ahead buffer: WinInet costs much
// per call under Wine, and the transfers read in small blocks.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/StallPump.h"
#include "platform/win32/Waits.h"
#include "platform/win32/Win.h"

namespace platform::win32 {
namespace {

constexpr DWORD kReadAhead = 64 * 1024;
// Through a stall pump each refill costs a hand-over between two threads: fewer, larger ones.
constexpr DWORD kPumpReadAhead = 256 * 1024;

// A refill that took at most this long lets the next one ask for twice as much.
constexpr std::chrono::microseconds kQuickRefill{4000};

// One call that waits for a server, as a record: it may be made on a helper thread that the
// caller stops waiting for, so it owns everything the call reads or writes.
struct NetCall {
    enum Op {
        Close, OpenUrl, Connect, SendRequest, SendRequestEx, EndRequest, GetDirectory, SetDirectory,
        CreateDirectory, FindFirst, FindNext, OpenFile, DeleteFile, RenameFile, Command
    };
    NetCall(Op what, HINTERNET on, std::string first = std::string())
        : op(what), h(on), a(std::move(first)) {}
    Op op;
    HINTERNET h;
    std::string a, b;  // URL, server, name, folder, command; headers, second name
    const char* user = nullptr;  // into u, p: kept apart, a null pointer means none
    const char* password = nullptr;
    std::string u, p;
    bool hasB = false;
    DWORD x = 0, y = 0;  // flags; access, port or total length
    DWORD service = 0;
    uintptr_t context = 0;
    WIN32_FIND_DATAA found{};
    char dir[256] = {};
};

intptr_t Perform(NetCall& c) {
    switch (c.op) {
    case NetCall::Close:
        return ::InternetCloseHandle(c.h);
    case NetCall::OpenUrl:
        return reinterpret_cast<intptr_t>(::InternetOpenUrlA(c.h, c.a.c_str(), c.hasB ? c.b.c_str() : nullptr,
                                                             static_cast<DWORD>(c.b.size()), c.x, c.context));
    case NetCall::Connect:
        return reinterpret_cast<intptr_t>(::InternetConnectA(c.h, c.a.c_str(), static_cast<INTERNET_PORT>(c.y),
                                                             c.user ? c.u.c_str() : nullptr,
                                                             c.password ? c.p.c_str() : nullptr, c.service,
                                                             c.x, c.context));
    case NetCall::SendRequest:
        return ::HttpSendRequestA(c.h, nullptr, 0, nullptr, 0);
    case NetCall::SendRequestEx: {
        INTERNET_BUFFERSA buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = c.y;
        return ::HttpSendRequestExA(c.h, &buffers, nullptr, c.x, 0);
    }
    case NetCall::EndRequest:
        return ::HttpEndRequestA(c.h, nullptr, 0, 0);
    case NetCall::GetDirectory: {
        DWORD length = sizeof c.dir - 1;
        return ::FtpGetCurrentDirectoryA(c.h, c.dir, &length);
    }
    case NetCall::SetDirectory:
        return ::FtpSetCurrentDirectoryA(c.h, c.a.c_str());
    case NetCall::CreateDirectory:
        return ::FtpCreateDirectoryA(c.h, c.a.c_str());
    case NetCall::FindFirst:
        return reinterpret_cast<intptr_t>(
            ::FtpFindFirstFileA(c.h, c.a.empty() ? nullptr : c.a.c_str(), &c.found, c.x, c.context));
    case NetCall::FindNext:
        return ::InternetFindNextFileA(c.h, &c.found);
    case NetCall::OpenFile:
        return reinterpret_cast<intptr_t>(::FtpOpenFileA(c.h, c.a.c_str(), c.y, c.x, c.context));
    case NetCall::DeleteFile:
        return ::FtpDeleteFileA(c.h, c.a.c_str());
    case NetCall::RenameFile:
        return ::FtpRenameFileA(c.h, c.a.c_str(), c.b.c_str());
    case NetCall::Command:
        return ::FtpCommandA(c.h, FALSE, c.x, c.a.c_str(), 0, nullptr);
    }
    return 0;
}

// The calls whose result is a handle: one given up on is closed when it comes.
bool OpensHandle(NetCall::Op op) {
    return op == NetCall::OpenUrl || op == NetCall::Connect || op == NetCall::FindFirst ||
           op == NetCall::OpenFile;
}

struct ReadAhead {
    std::unique_ptr<char[]> data{new char[kPumpReadAhead]};
    DWORD pos = 0;
    DWORD end = 0;
    DWORD grown = 0;  // size earned by quick refills; 0 while the data trickles
    uint64_t received = 0;  // body bytes WinInet handed over
    bool ended = false;     // a read found the body's end
};

// Unread body bytes that a close may still read without harm.
constexpr uint64_t kDrainAllowance = 64 * 1024;

class Win32Network final : public Network {
public:
    InetHandle InternetOpen(const std::string& agent, uint32_t accessType, const char* proxy,
                           const char* bypass, uint32_t flags) override {
        return OwnHandle(Track(::InternetOpenA(agent.c_str(), accessType, proxy, bypass, flags), false));
    }

    // A pump whose helper is blocked in a call on `h` is let go first: on Windows the close
    // then ends that call. Closing an FTP transfer reads the server's final reply and closing
    // a request may drain its body, so a close waits as any call; on a connection given up
    // on it is not waited for at all. A request whose announced body is far from read is
    // closed on a thread of its own: Wine's WinInet reads the rest of a body with a length
    // before it lets the handle go (to keep the connection), and an endless one would hold
    // the caller for ever. That close ends with the server's close or the process.
    bool InternetCloseHandle(HINTERNET h) override {
        const bool unread = UnreadBody(h);
        bool broken;
        {
            std::lock_guard<std::mutex> lock(mu_);
            readers_.erase(h);
            pumps_.erase(h);
            broken = IsBroken(RootOf(h));
            Forget(h);
        }
        if (broken) {
            StartDetached([h] { ::InternetCloseHandle(h); });
            ::SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
        if (unread) {
            StartDetached([h] { ::InternetCloseHandle(h); });
            // Its parent may be closed next: once this handle is invalid, that close no
            // longer reaches it (else the reading would happen there).
            DWORD type = 0, size = sizeof type;
            for (int i = 0; i < 2000 && ::InternetQueryOptionA(h, INTERNET_OPTION_HANDLE_TYPE, &type, &size); ++i)
                ::Sleep(1);
            return true;
        }
        return Run(NetCall{NetCall::Close, h}) != 0;
    }

    bool InternetSetOption(HINTERNET h, uint32_t option, const std::string& value) override {
        return ::InternetSetOptionA(h, option, const_cast<char*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1)) != FALSE;
    }

    bool InternetSetOption(HINTERNET h, uint32_t option, uint32_t value) override {
        DWORD v = value;
        return ::InternetSetOptionA(h, option, &v, sizeof v) != FALSE;
    }

    bool SetStallLimit(HINTERNET request, uint32_t ms) override {
        if (IsSession(request)) {
            std::lock_guard<std::mutex> lock(mu_);
            callLimit_ = ms;
            return true;
        }
        // The library's own limits too, where it has them (Windows).
        if (ms > 0) {
            DWORD v = ms;
            ::InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &v, sizeof v);
            ::InternetSetOptionA(request, INTERNET_OPTION_SEND_TIMEOUT, &v, sizeof v);
        }
        std::lock_guard<std::mutex> lock(mu_);
        WaitRules rules{ms, hook_};
        auto it = pumps_.find(request);
        if (!rules.Active()) {
            if (it != pumps_.end()) pumps_.erase(it);
        } else if (it != pumps_.end()) {
            it->second->SetRules(rules);
        } else {
            pumps_[request] = std::make_unique<StallPump>(request, rules);
        }
        return true;
    }

    void SetWaitHook(std::function<bool()> hook) override {
        std::lock_guard<std::mutex> lock(mu_);
        hook_ = std::move(hook);
    }

    InetHandle InternetOpenUrl(HINTERNET session, const std::string& url, const char* headers,
                              uint32_t headersLength, uint32_t flags, uintptr_t context) override {
        NetCall c{NetCall::OpenUrl, session, url};
        if (headers) c.b = headersLength == 0xFFFFFFFFu ? std::string(headers) : std::string(headers, headersLength);
        c.hasB = headers != nullptr;
        c.x = flags;
        c.context = context;
        HINTERNET h = reinterpret_cast<HINTERNET>(Run(std::move(c), true));
        return OwnHandle(Track(h, true));
    }

    bool HttpQueryInfo(HINTERNET request, uint32_t infoLevel, void* buffer, uint32_t* bufferLength,
                       uint32_t* index) override {
        DWORD length = bufferLength ? *bufferLength : 0;
        DWORD idx = index ? *index : 0;
        const BOOL ok = ::HttpQueryInfoA(request, infoLevel, buffer, bufferLength ? &length : nullptr,
                                         index ? &idx : nullptr);
        if (bufferLength) *bufferLength = length;
        if (index) *index = idx;
        return ok != FALSE;
    }

    // Hands out the buffered bytes first; WinInet is asked only when the buffer is empty,
    // so a failure or the end (TRUE with 0) reaches the caller after all buffered bytes.
    bool InternetReadFile(HINTERNET h, void* buffer, uint32_t toRead, uint32_t* read) override {
        ReadAhead* ra = Reader(h);
        StallPump* pump = Pump(h);
        DWORD n = 0;
        if (!ra) {
            const bool ok = pump ? pump->Read(buffer, toRead, n)
                                 : ::InternetReadFile(h, buffer, toRead, &n) != FALSE;
            if (!ok && pump) GaveUp(h, *pump);
            if (read) *read = n;
            return ok;
        }
        // A block as large as the buffer takes what has arrived straight into the caller's.
        if (ra->pos == ra->end && pump && toRead >= kPumpReadAhead) {
            const bool ok = pump->Read(buffer, toRead, n);
            if (!ok) GaveUp(h, *pump);
            ra->received += ok ? n : 0;
            ra->ended = ok && n == 0;
            if (read) *read = ok ? n : 0;
            return ok;
        }
        if (ra->pos == ra->end && toRead > 0) {
            if (!(pump ? PumpRefill(*pump, *ra, n) : Refill(h, *ra, toRead, n))) {
                if (pump) GaveUp(h, *pump);
                if (read) *read = 0;
                return false;
            }
            ra->pos = 0;
            ra->end = n;
            ra->received += n;
            ra->ended = n == 0;
        }
        n = std::min<DWORD>(toRead, ra->end - ra->pos);
        std::memcpy(buffer, ra->data.get() + ra->pos, n);
        ra->pos += n;
        if (read) *read = n;
        return true;
    }

    InetHandle InternetConnect(HINTERNET session, const std::string& server, uint16_t port,
                              const char* user, const char* password, uint32_t service,
                              uint32_t flags, uintptr_t context) override {
        // An FTP connect waits for the greeting and the login.
        NetCall c{NetCall::Connect, session, server};
        if (user) c.u = user;
        if (password) c.p = password;
        c.user = user ? "" : nullptr;
        c.password = password ? "" : nullptr;
        c.y = port;
        c.service = service;
        c.x = flags;
        c.context = context;
        HINTERNET h = reinterpret_cast<HINTERNET>(Run(std::move(c), true));
        return OwnHandle(Track(h, false));
    }

    InetHandle HttpOpenRequest(HINTERNET connect, const std::string& verb, const std::string& object,
                              uint32_t flags, uintptr_t context) override {
        return OwnHandle(Track(::HttpOpenRequestA(connect, verb.c_str(), object.c_str(), nullptr, nullptr,
                                        nullptr, flags, context),
                     false, connect));
    }

    // The request's buffered body belongs to the answer it replaces.
    bool HttpSendRequest(HINTERNET request) override {
        if (ReadAhead* ra = Reader(request)) ra->pos = ra->end = 0;
        return Run(NetCall{NetCall::SendRequest, request}) != 0;
    }

    bool HttpSendRequestEx(HINTERNET request, uint32_t totalLength, uint32_t flags) override {
        NetCall c{NetCall::SendRequestEx, request};
        c.x = flags;
        c.y = totalLength;
        return Run(std::move(c)) != 0;
    }

    bool InternetWriteFile(HINTERNET h, const void* buffer, uint32_t toWrite,
                           uint32_t* written) override {
        DWORD n = 0;
        if (StallPump* pump = Pump(h)) {
            const bool ok = pump->Write(buffer, toWrite, n);
            if (!ok) GaveUp(h, *pump);
            if (written) *written = n;
            return ok;
        }
        const BOOL ok = ::InternetWriteFile(h, buffer, toWrite, &n);
        if (written) *written = n;
        return ok != FALSE;
    }

    bool HttpEndRequest(HINTERNET request) override {
        return Run(NetCall{NetCall::EndRequest, request}) != 0;
    }

    bool FtpGetCurrentDirectory(HINTERNET connect, std::string& dir) override {
        NetCall* done = nullptr;
        if (!Run(NetCall{NetCall::GetDirectory, connect}, false, &done)) return false;
        dir.assign(done->dir, strnlen(done->dir, sizeof done->dir));
        return true;
    }

    bool FtpSetCurrentDirectory(HINTERNET connect, const std::string& dir) override {
        return Run(NetCall{NetCall::SetDirectory, connect, dir}) != 0;
    }

    bool FtpCreateDirectory(HINTERNET connect, const std::string& dir) override {
        return Run(NetCall{NetCall::CreateDirectory, connect, dir}) != 0;
    }

    InetHandle FtpFindFirstFile(HINTERNET connect, const std::string& search, FindData& data,
                               uint32_t flags, uintptr_t context) override {
        // The search reads the whole listing before it returns.
        NetCall c{NetCall::FindFirst, connect, search};
        c.x = flags;
        c.context = context;
        NetCall* done = nullptr;
        HINTERNET h = reinterpret_cast<HINTERNET>(Run(std::move(c), false, &done));
        if (h) data = ToFindData(done->found);
        return OwnHandle(Track(h, false, connect));
    }

    bool InternetFindNextFile(HINTERNET find, FindData& data) override {
        NetCall* done = nullptr;
        if (!Run(NetCall{NetCall::FindNext, find}, false, &done)) return false;
        data = ToFindData(done->found);
        return true;
    }

    uint32_t FtpGetFileSize(HINTERNET file, uint32_t* high) override {
        DWORD hi = 0;
        const DWORD low = ::FtpGetFileSize(file, high ? &hi : nullptr);
        if (high) *high = hi;
        return low;
    }

    InetHandle FtpOpenFile(HINTERNET connect, const std::string& name, uint32_t access,
                          uint32_t flags, uintptr_t context) override {
        NetCall c{NetCall::OpenFile, connect, name};
        c.y = access;
        c.x = flags;
        c.context = context;
        HINTERNET h = reinterpret_cast<HINTERNET>(Run(std::move(c)));
        return OwnHandle(Track(h, (access & GENERIC_READ) != 0, connect));
    }

    bool FtpDeleteFile(HINTERNET connect, const std::string& name) override {
        return Run(NetCall{NetCall::DeleteFile, connect, name}) != 0;
    }

    bool FtpRenameFile(HINTERNET connect, const std::string& from, const std::string& to) override {
        NetCall c{NetCall::RenameFile, connect, from};
        c.b = to;
        return Run(std::move(c)) != 0;
    }

    bool FtpCommand(HINTERNET connect, uint32_t flags, const std::string& command) override {
        NetCall c{NetCall::Command, connect, command};
        c.x = flags;
        return Run(std::move(c)) != 0;
    }

    // The reply may have been read on a helper thread: it was taken there.
    bool InternetGetLastResponseInfo(uint32_t& error, std::string& text) override {
        if (lastCall_) {
            if (!lastCall_->replied) return false;
            error = lastCall_->replyError;
            text = lastCall_->reply;
            return true;
        }
        char buf[1024] = {};
        DWORD code = 0;
        DWORD length = sizeof buf;
        if (!::InternetGetLastResponseInfoA(&code, buf, &length)) return false;
        error = code;
        text.assign(buf, strnlen(buf, sizeof buf));
        return true;
    }

    bool FormatMessage(uint32_t code, std::string& text) override {
        char buf[256] = {};
        const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, ::GetModuleHandleA("wininet.dll"),
                                         code, 0, buf, sizeof buf, nullptr);
        if (n == 0) return false;
        text.assign(buf, strnlen(buf, sizeof buf));
        return true;
    }

private:
    // Every handle made here passes through, so a value WinInet hands out again never
    // inherits the buffer of a handle that was closed with its parent.
    HINTERNET Track(HINTERNET h, bool readAhead, HINTERNET connection = nullptr) {
        if (!h) return h;
        std::lock_guard<std::mutex> lock(mu_);
        pumps_.erase(h);
        Forget(h);
        if (connection) parents_.emplace_back(h, connection);
        if (readAhead)
            readers_[h] = std::make_unique<ReadAhead>();
        else
            readers_.erase(h);
        return h;
    }

    // A read returns only when its whole size has arrived (or the body ended), so ask for
    // what is there already, never for less than the caller would have; and while the data
    // streams in fast (WinInet holds at most 8 KiB ready), for twice what the last refill got
    // quickly, up to the buffer.
    static bool Refill(HINTERNET h, ReadAhead& ra, DWORD toRead, DWORD& n) {
        DWORD available = 0;
        if (ra.grown < 8192 && !::InternetQueryDataAvailable(h, &available, 0, 0)) available = 0;
        const DWORD size = std::min(std::max({available, toRead, ra.grown}), kReadAhead);
        const auto start = std::chrono::steady_clock::now();
        if (!::InternetReadFile(h, ra.data.get(), size, &n)) return false;
        const bool quick = n == size && std::chrono::steady_clock::now() - start <= kQuickRefill;
        ra.grown = quick ? std::min(size * 2, kReadAhead) : 0;
        return true;
    }

    // The same through a stall pump, which hands back what has come as soon as the line
    // pauses, so the wait is always for the next byte, never for a block that is slow to fill.
    static bool PumpRefill(StallPump& pump, ReadAhead& ra, DWORD& n) {
        return pump.Read(ra.data.get(), kPumpReadAhead, n);
    }

    bool UnreadBody(HINTERNET h) {
        ReadAhead* ra = Reader(h);
        if (!ra || ra->ended) return false;
        char text[32] = {};
        DWORD size = sizeof text - 1;
        if (!::HttpQueryInfoA(h, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
        uint64_t length = 0;
        for (const char* c = text; *c >= '0' && *c <= '9' && length < (1ull << 56); ++c)
            length = length * 10 + static_cast<uint64_t>(*c - '0');
        return length > ra->received + kDrainAllowance;
    }

    static bool IsSession(HINTERNET h) {
        DWORD type = 0;
        DWORD size = sizeof type;
        return ::InternetQueryOptionA(h, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
               type == INTERNET_HANDLE_TYPE_INTERNET;
    }

    bool IsBroken(HINTERNET h) const { return std::find(broken_.begin(), broken_.end(), h) != broken_.end(); }

    // A handle value that is closed (or handed out anew) carries nothing over.
    void Forget(HINTERNET h) {
        broken_.erase(std::remove(broken_.begin(), broken_.end(), h), broken_.end());
        parents_.erase(std::remove_if(parents_.begin(), parents_.end(),
                                      [h](const std::pair<HINTERNET, HINTERNET>& link) { return link.first == h; }),
                       parents_.end());
    }

    // The connection a handle belongs to: its own for a connection or a URL's request.
    HINTERNET RootOf(HINTERNET h) const {
        for (const auto& link : parents_)
            if (link.first == h) return link.second;
        return h;
    }

    WaitRules Rules() {
        std::lock_guard<std::mutex> lock(mu_);
        return WaitRules{callLimit_, hook_};
    }

    // A pump that stopped waiting leaves its helper in a call on the connection: nothing
    // else may use that connection.
    void GaveUp(HINTERNET h, const StallPump& pump) {
        if (!pump.SpentBy()) return;
        std::lock_guard<std::mutex> lock(mu_);
        broken_.push_back(RootOf(h));
        brokenError_ = pump.SpentBy();
    }

    // A call that waits for a server: on a helper thread under the run's rules, given up on
    // at the limit or the user's cancel; its connection then serves nothing more, except
    // when the call opens a connection over the session (a URL, an FTP login), which leaves
    // the session as it was. `done` (when given) then points at the record after the call,
    // valid until the next one.
    intptr_t Run(NetCall call, bool opensConnection = false, NetCall** done = nullptr) {
        const WaitRules rules = Rules();
        HINTERNET root;
        {
            std::lock_guard<std::mutex> lock(mu_);
            root = RootOf(call.h);
            if (IsBroken(root)) {
                ::SetLastError(brokenError_);
                return 0;
            }
        }
        last_ = std::make_shared<NetCall>(std::move(call));
        if (done) *done = last_.get();
        if (!rules.Active()) {
            lastCall_.reset();
            return Perform(*last_);
        }
        std::shared_ptr<NetCall> record = last_;
        const bool handle = OpensHandle(record->op);
        intptr_t result = 0;
        CallState state;
        if (!CallBounded(rules, [record] { return Perform(*record); },
                         [handle](intptr_t h) {
                             if (handle && h) ::InternetCloseHandle(reinterpret_cast<HINTERNET>(h));
                         },
                         result, state)) {
            const DWORD error = ::GetLastError();
            lastCall_ = CallState{error, false, 0, std::string()};
            last_ = std::make_shared<NetCall>(NetCall{NetCall::Close, nullptr});  // the helper keeps its own
            if (done) *done = last_.get();
            std::lock_guard<std::mutex> lock(mu_);
            if (!opensConnection) {
                broken_.push_back(root);
                brokenError_ = error;
            }
            ::SetLastError(error);
            return 0;
        }
        lastCall_ = state;
        return result;
    }

    StallPump* Pump(HINTERNET h) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = pumps_.find(h);
        return it == pumps_.end() ? nullptr : it->second.get();
    }

    ReadAhead* Reader(HINTERNET h) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = readers_.find(h);
        return it == readers_.end() ? nullptr : it->second.get();
    }

    std::mutex mu_;
    std::unordered_map<HINTERNET, std::unique_ptr<ReadAhead>> readers_;
    std::unordered_map<HINTERNET, std::unique_ptr<StallPump>> pumps_;
    // Few handles are open at a time: plain lists.
    std::vector<std::pair<HINTERNET, HINTERNET>> parents_;  // a transfer's or search's connection
    std::vector<HINTERNET> broken_;  // connections whose call was given up on
    DWORD brokenError_ = ERROR_INTERNET_TIMEOUT;
    DWORD callLimit_ = 0;
    std::function<bool()> hook_;
    std::optional<CallState> lastCall_;  // the last bounded call's state, for its reply
    std::shared_ptr<NetCall> last_;      // the last call's record, for what it returned
};

}  // namespace

}  // namespace platform::win32

namespace platform {

Network& DefaultNetwork() {
    static win32::Win32Network net;
    return net;
}

}  // namespace platform
