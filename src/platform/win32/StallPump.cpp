#include "platform/win32/StallPump.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform::win32 {

namespace {
enum Op { kNone, kRead, kWrite, kQuit };
// What a read asks for when the handle cannot say how much has arrived.
constexpr DWORD kShortRead = 4096;
// A piece that took longer than this to come means the line pauses: what is there goes
// back to the caller rather than waiting to fill the whole buffer.
constexpr std::chrono::microseconds kPause{4000};
using Clock = std::chrono::steady_clock;
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
    DWORD moved = 0;
    BOOL ok = FALSE;
    DWORD error = 0;
    Clock::time_point progress;  // when the last byte moved (or the call began)
    Clock::duration took{};

    void Stamp() {
        std::lock_guard<std::mutex> lock(mu);
        progress = Clock::now();
    }

    // Pieces of what has arrived until the buffer is full, the body ends or the line pauses.
    // Asking for no more than is there keeps each wait to the next byte: a read of more
    // returns only when all of it has come. An FTP data handle may say nothing is there (or
    // fail to say) while more is on its way, so that answer is followed by a short read,
    // which waits for the next bytes or the end.
    BOOL ReadPieces(char* into, DWORD want, DWORD& got, DWORD& lastError) {
        got = 0;
        while (got < want) {
            const auto began = Clock::now();
            DWORD available = 0;
            if (!::InternetQueryDataAvailable(request, &available, 0, 0) || available == 0)
                available = kShortRead;
            DWORD n = 0;
            if (!::InternetReadFile(request, into + got, std::min(available, want - got), &n)) {
                lastError = ::GetLastError();
                return got > 0;  // the failure comes again with the next read
            }
            if (n == 0) break;
            got += n;
            Stamp();
            if (Clock::now() - began > kPause) break;
        }
        return TRUE;
    }

    void Serve() {
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            cv.wait(lock, [this] { return op != kNone; });
            if (op == kQuit) return;
            const int what = op;
            const DWORD want = size;
            lock.unlock();
            BOOL result = FALSE;
            DWORD n = 0;
            DWORD lastError = 0;
            const auto began = Clock::now();
            if (what == kRead) {
                result = ReadPieces(data.data(), want, n, lastError);
            } else {
                result = ::InternetWriteFile(request, data.data(), want, &n);
                if (!result) lastError = ::GetLastError();
            }
            const auto spent = Clock::now() - began;
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

StallPump::StallPump(HINTERNET request, WaitRules rules)
    : shared_(std::make_shared<Shared>()), rules_(std::move(rules)) {
    shared_->request = request;
    StartDetached([shared = shared_] { shared->Serve(); });
}

StallPump::~StallPump() {
    std::lock_guard<std::mutex> lock(shared_->mu);
    // An idle helper quits at once; a blocked one quits when its call returns.
    if (shared_->op == kNone) shared_->op = kQuit;
    shared_->abandoned = true;
    shared_->cv.notify_all();
}

bool StallPump::Call(int op, DWORD size) {
    if (spent_) {
        ::SetLastError(spent_);
        return false;
    }
    std::unique_lock<std::mutex> lock(shared_->mu);
    shared_->op = op;
    shared_->size = size;
    shared_->done = false;
    shared_->progress = Clock::now();
    shared_->cv.notify_all();
    Shared& s = *shared_;
    if (!WaitSliced(lock, s.cv, [&s] { return s.done; }, [&s] { return s.progress; }, rules_)) {
        spent_ = ::GetLastError();
        return false;
    }
    took_ = shared_->took;
    if (!shared_->ok) ::SetLastError(shared_->error);
    return shared_->ok != FALSE;
}

bool StallPump::Read(void* buffer, DWORD size, DWORD& got) {
    got = 0;
    if (spent_) return Call(kRead, size);  // the helper may still write into its buffer
    {
        std::lock_guard<std::mutex> lock(shared_->mu);
        if (shared_->data.size() < size) shared_->data.resize(size);
    }
    if (!Call(kRead, size)) return false;
    std::lock_guard<std::mutex> lock(shared_->mu);
    got = std::min(shared_->moved, size);
    std::memcpy(buffer, shared_->data.data(), got);
    return true;
}

bool StallPump::Write(const void* buffer, DWORD size, DWORD& written) {
    written = 0;
    if (spent_) return Call(kWrite, size);
    {
        std::lock_guard<std::mutex> lock(shared_->mu);
        shared_->data.assign(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + size);
    }
    if (!Call(kWrite, size)) return false;
    std::lock_guard<std::mutex> lock(shared_->mu);
    written = shared_->moved;
    return true;
}

}  // namespace platform::win32
