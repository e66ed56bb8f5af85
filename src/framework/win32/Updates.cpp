// Coalescing of the updates that come after every transfer block. Each one costs the window
// system a round trip or a repaint (under Wine a server call of 10 to 500 microseconds),
// which would bound the transfer rate; a screen needs them no faster than once a frame.
#include <algorithm>
#include <vector>

#include "framework/win32/Native.h"

namespace win32 {

namespace {

constexpr long long kFrameMicroseconds = 15000;

std::vector<TControl*>& Waiting() {
    static std::vector<TControl*> waiting;
    return waiting;
}

long long lastFlush = 0;
bool timerArmed = false;

}  // namespace

long long NowMicroseconds() {
    static const long long frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

void Update(TControl& c, unsigned what) {
    Native& n = Data(c);
    if (!n.pending) Waiting().push_back(&c);
    n.pending |= what;
    if (!timerArmed)
        timerArmed = SetTimer(Utility(), kFlushTimer, kFrameMicroseconds / 1000, nullptr) != 0;
}

void FlushUpdates() {
    if (timerArmed) {
        KillTimer(Utility(), kFlushTimer);
        timerArmed = false;
    }
    lastFlush = NowMicroseconds();
    if (Waiting().empty()) return;
    // Writing a window can dispatch messages, and their handlers can change controls again.
    std::vector<TControl*> batch;
    batch.swap(Waiting());
    for (TControl* c : batch) {
        Native* n = FindData(*c);  // gone when a handler destroyed the control meanwhile
        if (!n || !n->pending) continue;
        const unsigned what = n->pending;
        n->pending = 0;
        ApplyUpdate(*c, what);
    }
}

void FlushUpdatesWhenDue() {
    if (!Waiting().empty() && NowMicroseconds() - lastFlush >= kFrameMicroseconds) FlushUpdates();
}

void DropUpdates(const TControl& c) {
    Native* n = FindData(c);
    if (!n || !n->pending) return;
    n->pending = 0;
    auto& w = Waiting();
    w.erase(std::remove(w.begin(), w.end(), &c), w.end());
}

}  // namespace win32
