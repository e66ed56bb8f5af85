// WinInet through thin wrappers. Body reads get a read-ahead buffer: WinInet costs much
// per call under Wine, and the transfers read in small blocks.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/win32/Defaults.h"
#include "platform/win32/StallPump.h"
#include "platform/win32/Win.h"

namespace platform::win32 {
namespace {

constexpr DWORD kReadAhead = 64 * 1024;
// Through a stall pump each refill costs a hand-over between two threads: fewer, larger ones.
constexpr DWORD kPumpReadAhead = 256 * 1024;

// A refill that took at most this long lets the next one ask for twice as much.
constexpr std::chrono::microseconds kQuickRefill{4000};

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
    // then ends that call.
    // A request whose announced body is far from read is closed on a thread of its own:
    // Wine's WinInet reads the rest of a body with a length before it lets the handle go (to
    // keep the connection), and an endless one would hold the caller for ever. That close
    // ends with the server's close or the process.
    bool InternetCloseHandle(HINTERNET h) override {
        const bool unread = UnreadBody(h);
        {
            std::lock_guard<std::mutex> lock(mu_);
            readers_.erase(h);
            pumps_.erase(h);
            openLimits_.erase(h);
        }
        if (unread) {
            const HANDLE closer = ::CreateThread(nullptr, 0, CloseOnItsOwn, h, 0, nullptr);
            if (closer) {
                ::CloseHandle(closer);
                // Its parent may be closed next: once this handle is invalid, that close no
                // longer reaches it (else the reading would happen there).
                DWORD type = 0, size = sizeof type;
                for (int i = 0; i < 2000 &&
                                ::InternetQueryOptionA(h, INTERNET_OPTION_HANDLE_TYPE, &type, &size);
                     ++i)
                    ::Sleep(1);
                return true;
            }
        }
        return ::InternetCloseHandle(h) != FALSE;
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
            openLimits_[request] = ms;
            return true;
        }
        // The library's own limits too, where it has them (Windows).
        DWORD v = ms;
        ::InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &v, sizeof v);
        ::InternetSetOptionA(request, INTERNET_OPTION_SEND_TIMEOUT, &v, sizeof v);
        std::lock_guard<std::mutex> lock(mu_);
        auto it = pumps_.find(request);
        if (ms == 0) {
            if (it != pumps_.end()) pumps_.erase(it);
        } else if (it != pumps_.end()) {
            it->second->SetLimit(ms);
        } else {
            pumps_[request] = std::make_unique<StallPump>(request, ms);
        }
        return true;
    }

    InetHandle InternetOpenUrl(HINTERNET session, const std::string& url, const char* headers,
                              uint32_t headersLength, uint32_t flags, uintptr_t context) override {
        DWORD limit = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = openLimits_.find(session);
            if (it != openLimits_.end()) limit = it->second;
        }
        HINTERNET h = limit > 0 ? OpenUrlWithin(limit, session, url, headers, headersLength, flags, context)
                                : ::InternetOpenUrlA(session, url.c_str(), headers, headersLength, flags, context);
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
            const bool ok = pump ? pump->Read(buffer, toRead, n, true)
                                 : ::InternetReadFile(h, buffer, toRead, &n) != FALSE;
            if (read) *read = n;
            return ok;
        }
        if (ra->pos == ra->end && toRead > 0) {
            if (!(pump ? PumpRefill(*pump, *ra, n) : Refill(h, *ra, toRead, n))) {
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
        return OwnHandle(Track(::InternetConnectA(session, server.c_str(), port, user, password, service, flags,
                                        context),
                     false));
    }

    InetHandle HttpOpenRequest(HINTERNET connect, const std::string& verb, const std::string& object,
                              uint32_t flags, uintptr_t context) override {
        return OwnHandle(Track(::HttpOpenRequestA(connect, verb.c_str(), object.c_str(), nullptr, nullptr,
                                        nullptr, flags, context),
                     false));
    }

    // The request's buffered body belongs to the answer it replaces.
    bool HttpSendRequest(HINTERNET request) override {
        if (ReadAhead* ra = Reader(request)) ra->pos = ra->end = 0;
        return ::HttpSendRequestA(request, nullptr, 0, nullptr, 0) != FALSE;
    }

    bool HttpSendRequestEx(HINTERNET request, uint32_t totalLength, uint32_t flags) override {
        INTERNET_BUFFERSA buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = totalLength;
        return ::HttpSendRequestExA(request, &buffers, nullptr, flags, 0) != FALSE;
    }

    bool InternetWriteFile(HINTERNET h, const void* buffer, uint32_t toWrite,
                           uint32_t* written) override {
        DWORD n = 0;
        if (StallPump* pump = Pump(h)) {
            const bool ok = pump->Write(buffer, toWrite, n);
            if (written) *written = n;
            return ok;
        }
        const BOOL ok = ::InternetWriteFile(h, buffer, toWrite, &n);
        if (written) *written = n;
        return ok != FALSE;
    }

    bool HttpEndRequest(HINTERNET request) override {
        return ::HttpEndRequestA(request, nullptr, 0, 0) != FALSE;
    }

    bool FtpGetCurrentDirectory(HINTERNET connect, std::string& dir) override {
        char buf[256] = {};
        DWORD length = 255;
        if (!::FtpGetCurrentDirectoryA(connect, buf, &length)) return false;
        dir.assign(buf, strnlen(buf, sizeof buf));
        return true;
    }

    bool FtpSetCurrentDirectory(HINTERNET connect, const std::string& dir) override {
        return ::FtpSetCurrentDirectoryA(connect, dir.c_str()) != FALSE;
    }

    bool FtpCreateDirectory(HINTERNET connect, const std::string& dir) override {
        return ::FtpCreateDirectoryA(connect, dir.c_str()) != FALSE;
    }

    InetHandle FtpFindFirstFile(HINTERNET connect, const std::string& search, FindData& data,
                               uint32_t flags, uintptr_t context) override {
        WIN32_FIND_DATAA found = {};
        HINTERNET h = ::FtpFindFirstFileA(connect, search.empty() ? nullptr : search.c_str(), &found,
                                          flags, context);
        if (h) data = ToFindData(found);
        return OwnHandle(Track(h, false));
    }

    bool InternetFindNextFile(HINTERNET find, FindData& data) override {
        WIN32_FIND_DATAA found = {};
        if (!::InternetFindNextFileA(find, &found)) return false;
        data = ToFindData(found);
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
        return OwnHandle(Track(::FtpOpenFileA(connect, name.c_str(), access, flags, context),
                     (access & GENERIC_READ) != 0));
    }

    bool FtpDeleteFile(HINTERNET connect, const std::string& name) override {
        return ::FtpDeleteFileA(connect, name.c_str()) != FALSE;
    }

    bool FtpRenameFile(HINTERNET connect, const std::string& from, const std::string& to) override {
        return ::FtpRenameFileA(connect, from.c_str(), to.c_str()) != FALSE;
    }

    bool FtpCommand(HINTERNET connect, uint32_t flags, const std::string& command) override {
        return ::FtpCommandA(connect, FALSE, flags, command.c_str(), 0, nullptr) != FALSE;
    }

    bool InternetGetLastResponseInfo(uint32_t& error, std::string& text) override {
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
    HINTERNET Track(HINTERNET h, bool readAhead) {
        if (!h) return h;
        std::lock_guard<std::mutex> lock(mu_);
        pumps_.erase(h);
        openLimits_.erase(h);
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

    // The same through a stall pump. While the data trickles only what is there is taken,
    // so the wait is for the next byte, never for a block that is slow to fill.
    static bool PumpRefill(StallPump& pump, ReadAhead& ra, DWORD& n) {
        const bool trickling = ra.grown < 8192;
        const DWORD size = trickling ? kPumpReadAhead : ra.grown;
        if (!pump.Read(ra.data.get(), size, n, trickling)) return false;
        const bool quick =
            (trickling ? n >= 4096 : n == size) && pump.LastCallTime() <= kQuickRefill;
        ra.grown = quick ? std::min(std::max<DWORD>(n, 4096) * 2, kPumpReadAhead) : 0;
        return true;
    }

    static DWORD WINAPI CloseOnItsOwn(void* h) {
        ::InternetCloseHandle(h);
        return 0;
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

    // InternetOpenUrlA on a helper thread, waited for at most `limit` ms: under Wine a server
    // that takes the request and never answers holds the call for ever. A call given up on
    // closes its handle itself if it ever gets one.
    static HINTERNET OpenUrlWithin(DWORD limit, HINTERNET session, const std::string& url,
                                   const char* headers, uint32_t headersLength, uint32_t flags,
                                   uintptr_t context) {
        struct Call {
            std::mutex mu;
            std::condition_variable cv;
            bool done = false, abandoned = false;
            HINTERNET result = nullptr;
            DWORD error = 0;
        };
        auto call = std::make_shared<Call>();
        std::string extra;
        if (headers) extra = headersLength == 0xFFFFFFFFu ? std::string(headers) : std::string(headers, headersLength);
        const bool hasHeaders = headers != nullptr;
        std::thread([call, session, url, extra, hasHeaders, flags, context] {
            HINTERNET h = ::InternetOpenUrlA(session, url.c_str(), hasHeaders ? extra.c_str() : nullptr,
                                             static_cast<DWORD>(extra.size()), flags, context);
            const DWORD error = ::GetLastError();
            std::lock_guard<std::mutex> lock(call->mu);
            if (call->abandoned) {
                if (h) ::InternetCloseHandle(h);
                return;
            }
            call->result = h;
            call->error = error;
            call->done = true;
            call->cv.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(call->mu);
        if (!call->cv.wait_for(lock, std::chrono::milliseconds(limit), [&call] { return call->done; })) {
            call->abandoned = true;
            ::SetLastError(ERROR_INTERNET_TIMEOUT);
            return nullptr;
        }
        ::SetLastError(call->error);
        return call->result;
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
    std::unordered_map<HINTERNET, DWORD> openLimits_;  // by session
};

}  // namespace

Network& DefaultNetwork() {
    static Win32Network net;
    return net;
}

}  // namespace platform::win32
