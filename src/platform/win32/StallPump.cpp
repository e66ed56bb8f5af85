#include "platform/win32/StallPump.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::win32 {

namespace {
enum Op { kNone, kRead, kWrite, kQuit };
// What a read asks for when the handle cannot say how much has arrived.
constexpr DWORD kShortRead = 4096;
}

struct StallPump::Shared {
    HINTERNET request;
    std::mutex mu;
    std::condition_variable cv;
    int op = kNone;
    bool done = false;
    bool abandoned = false;  // the owner stopped waiting; the helper ends after its call
    std::vector<char> data;  // read: what arrived; write: what to send
    DWORD size = 0;          // asked for
    bool onlyWhatIsThere = false;
    DWORD moved = 0;
    BOOL ok = FALSE;
    DWORD error = 0;
    std::chrono::steady_clock::duration took{};

    void Serve() {
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            cv.wait(lock, [this] { return op != kNone; });
            if (op == kQuit) return;
            const int what = op;
            const DWORD want = size;
            const bool ask = onlyWhatIsThere;
            lock.unlock();
            BOOL result = FALSE;
            DWORD n = 0;
            DWORD lastError = 0;
            const auto began = std::chrono::steady_clock::now();
            if (what == kRead) {
                // Asking for no more than is there keeps the wait to the first byte: a read
                // of more returns only when all of it has come. An FTP data handle may say
                // nothing is there (or fail to say) while more is on its way, so that answer
                // is followed by a short read, which waits for the next bytes or the end.
                DWORD available = want;
                if (ask && (!::InternetQueryDataAvailable(request, &available, 0, 0) || available == 0))
                    available = kShortRead;
                result = ::InternetReadFile(request, data.data(), std::min(available, want), &n);
                if (!result) lastError = ::GetLastError();
            } else {
                result = ::InternetWriteFile(request, data.data(), want, &n);
                if (!result) lastError = ::GetLastError();
            }
            const auto spent = std::chrono::steady_clock::now() - began;
            lock.lock();
            took = spent;
            ok = result;
            moved = n;
            error = lastError;
            op = kNone;
            done = true;
            cv.notify_all();
            if (abandoned) return;
        }
    }
};

StallPump::StallPump(HINTERNET request, DWORD limitMs)
    : shared_(std::make_shared<Shared>()), limit_(limitMs) {
    shared_->request = request;
    std::thread([shared = shared_] { shared->Serve(); }).detach();
}

StallPump::~StallPump() {
    std::lock_guard<std::mutex> lock(shared_->mu);
    // An idle helper quits at once; a blocked one quits when its call returns.
    if (shared_->op == kNone) shared_->op = kQuit;
    shared_->abandoned = true;
    shared_->cv.notify_all();
}

bool StallPump::Call(int op, DWORD size, bool onlyWhatIsThere) {
    if (spent_) {
        ::SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
    std::unique_lock<std::mutex> lock(shared_->mu);
    shared_->op = op;
    shared_->size = size;
    shared_->onlyWhatIsThere = onlyWhatIsThere;
    shared_->done = false;
    shared_->cv.notify_all();
    if (!shared_->cv.wait_for(lock, std::chrono::milliseconds(limit_),
                              [this] { return shared_->done; })) {
        spent_ = true;
        ::SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
    took_ = shared_->took;
    if (!shared_->ok) ::SetLastError(shared_->error);
    return shared_->ok != FALSE;
}

bool StallPump::Read(void* buffer, DWORD size, DWORD& got, bool onlyWhatIsThere) {
    got = 0;
    if (spent_) return Call(kRead, size, false);  // the helper may still write into its buffer
    {
        std::lock_guard<std::mutex> lock(shared_->mu);
        if (shared_->data.size() < size) shared_->data.resize(size);
    }
    if (!Call(kRead, size, onlyWhatIsThere)) return false;
    std::lock_guard<std::mutex> lock(shared_->mu);
    got = std::min(shared_->moved, size);
    std::memcpy(buffer, shared_->data.data(), got);
    return true;
}

bool StallPump::Write(const void* buffer, DWORD size, DWORD& written) {
    written = 0;
    if (spent_) return Call(kWrite, size, false);
    {
        std::lock_guard<std::mutex> lock(shared_->mu);
        shared_->data.assign(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + size);
    }
    if (!Call(kWrite, size, false)) return false;
    std::lock_guard<std::mutex> lock(shared_->mu);
    written = shared_->moved;
    return true;
}

}  // namespace platform::win32
