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
// WinInet hands over at most 8 KiB of what has arrived at a time, and every call costs, so
// once the data streams (kStreak pieces of at least kFullPiece came at once) the reads grow
// into blocking ones of up to kMaxBurst. Such a read shows no progress until it is full: it
// is kept small enough to fill within the stall limit on a line of kSafeRate, so that only a
// line slower than that, right after a fast one, can be taken for a stall.
constexpr DWORD kFullPiece = 4096;
constexpr int kStreak = 8;
constexpr DWORD kMinBurst = 16 * 1024;
constexpr DWORD kMaxBurst = 256 * 1024;
constexpr DWORD kSafeRate = 4;  // bytes per millisecond
// A whole piece came "at once" when it took no longer than kQuick plus its size at
// kQuickRate: a large burst read takes its time to copy even on a fast line.
constexpr std::chrono::microseconds kQuick{2000};
constexpr DWORD kQuickRate = 16;  // bytes per microsecond
using Clock = std::chrono::steady_clock;

DWORD BurstCap(DWORD limitMs) {
    if (limitMs == 0) return kMaxBurst;
    const DWORD cap = limitMs >= kMaxBurst / kSafeRate ? kMaxBurst : limitMs * kSafeRate;
    return cap < kMinBurst ? 0 : cap;
}
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
    DWORD burst = 0;     // the next read's size while the data streams; 0: what has arrived
    int streak = 0;      // pieces in a row that came whole at once
    DWORD burstCap = 0;  // from the stall limit
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
            DWORD ask = std::min(burst, burstCap);
            if (ask == 0) {
                if (!::InternetQueryDataAvailable(request, &ask, 0, 0) || ask == 0) ask = kShortRead;
            }
            ask = std::min(ask, want - got);
            DWORD n = 0;
            if (!::InternetReadFile(request, into + got, ask, &n)) {
                burst = 0;
                streak = 0;
                lastError = ::GetLastError();
                return got > 0;  // the failure comes again with the next read
            }
            if (n == 0) break;
            got += n;
            Stamp();
            const auto took = Clock::now() - began;
            // Reads that came whole at once earn larger ones; a whole one that took its time
            // halves the next, and a part ends the bursts.
            const bool whole = n == ask && n >= kFullPiece;
            if (whole && took < kQuick + std::chrono::microseconds(n / kQuickRate)) {
                if (burst > 0 || ++streak >= kStreak) burst = std::min(std::max(ask * 2, kMinBurst), kMaxBurst);
            } else if (whole && burst / 2 >= kMinBurst) {
                burst /= 2;
            } else {
                burst = 0;
                streak = 0;
            }
            if (took > kPause) break;
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
    shared_->burstCap = BurstCap(rules_.limitMs);
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
