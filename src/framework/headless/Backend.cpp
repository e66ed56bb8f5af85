// The in-memory backend: no windows; state and a message queue that tests can script.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

#include "framework/Application.h"
#include "framework/Backend.h"
#include "framework/Strings.h"
#include "framework/headless/Headless.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const DefaultProgramPath = "C:\\test\\Test.exe";
constexpr auto WaitCap = std::chrono::seconds(5);

// Shared with other threads (Post, WakeMainThread): guarded by `mutex`.
std::mutex mutex;
std::condition_variable wakeUp;
std::deque<std::function<void()>> posted;
bool woken = false;
bool quitPosted = false;

// UI thread only.
std::vector<headless::MessageBoxCall> messageBoxCalls;
std::function<int(const headless::MessageBoxCall&)> messageBoxAnswer;
std::function<int(TForm&)> modalHandler;
std::string programPath = DefaultProgramPath;
std::deque<TForm*> pendingPaints;
std::map<const TControl*, int> paintCounts;
std::map<std::pair<const TControl*, TChange>, int> changeCounts;
std::set<const TControl*> topmost;
std::map<TTimer*, Clock::time_point> timers;  // armed timers and their last start

Clock::time_point DueAt(const TTimer* t, Clock::time_point since) {
    return since + std::chrono::milliseconds(t->Interval());
}

void ForgetPaint(const TControl* c) {
    pendingPaints.erase(std::remove(pendingPaints.begin(), pendingPaints.end(), c),
                        pendingPaints.end());
}

void Paint(TForm& f) {
    ForgetPaint(&f);
    ++paintCounts[&f];
    if (f.OnPaint) f.OnPaint(&f);
}

bool FireDueTimer() {
    const auto now = Clock::now();
    TTimer* due = nullptr;
    Clock::time_point dueAt{};
    for (auto& [timer, since] : timers) {
        const auto at = DueAt(timer, since);
        if (at <= now && (!due || at < dueAt)) {
            due = timer;
            dueAt = at;
        }
    }
    if (!due) return false;
    timers[due] = now;
    // The handler may disable or destroy the timer; it is not touched afterwards.
    if (due->OnTimer) due->OnTimer(due);
    return true;
}

}  // namespace

namespace backend {

void Initialize(TApplication& app) {
    DecimalSeparator = '.';
    app.Title = TitleFromProgramPath(ProgramPath());
}

std::string ProgramPath() { return programPath; }

void Changed(TControl& c, TChange what) {
    ++changeCounts[{&c, what}];
    if (what != TChange::Visible) return;
    if (auto* form = dynamic_cast<TForm*>(&c)) {
        if (!form->Visible())
            ForgetPaint(form);
        else if (std::find(pendingPaints.begin(), pendingPaints.end(), form) ==
                 pendingPaints.end())
            pendingPaints.push_back(form);
    }
}

void Destroying(TControl& c) {
    ForgetPaint(&c);
    paintCounts.erase(&c);
    topmost.erase(&c);
    for (auto it = changeCounts.begin(); it != changeCounts.end();)
        it = it->first.first == &c ? changeCounts.erase(it) : std::next(it);
}

std::string ReadText(const TControl& c) { return c.TControl::Caption(); }

void MeasureText(const TFont& font, const std::string& text, int& width, int& height) {
    const int h = std::abs(font.Height);
    width = static_cast<int>(text.size()) * std::max(1, h * 6 / 11);
    height = h + 2;
}

void NonClientSize(const TForm& f, int& extraWidth, int& extraHeight) {
    if (f.BorderStyle == bsNone) {
        extraWidth = extraHeight = 0;
    } else {
        extraWidth = 6;
        extraHeight = 6 + CaptionHeight();
    }
}

void ScreenSize(int& width, int& height) {
    width = 1024;
    height = 768;
}

int CaptionHeight() { return 18; }

void SetTopmost(TForm& f) { topmost.insert(&f); }

void Repaint(TForm& f) { Paint(f); }

int RunModal(TForm& f) {
    const int result = modalHandler ? modalHandler(f) : mrCancel;
    if (f.ModalResult == mrNone && f.Visible()) f.ModalResult = result;
    return f.ModalResult;
}

bool LoadClip(TAnimate&, void*, int id, int& width, int& height) {
    if (id != 257 && id != 258) return false;
    width = 272;
    height = 60;
    return true;
}

bool LoadCommonClip(TAnimate&, TCommonAVI avi, int& width, int& height) {
    if (avi != aviCopyFiles) return false;
    width = 272;
    height = 60;
    return true;
}

bool LoadBitmap(TImage&, const std::string&, int& width, int& height) {
    width = 320;
    height = 60;
    return true;
}

void TimerChanged(TTimer& t) {
    if (t.Enabled() && t.Interval() > 0)
        timers[&t] = Clock::now();
    else
        timers.erase(&t);
}

void TimerDestroying(TTimer& t) { timers.erase(&t); }

bool ProcessOneMessage() {
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!posted.empty()) {
            action = std::move(posted.front());
            posted.pop_front();
        }
    }
    if (action) {
        action();
        return true;
    }
    if (!pendingPaints.empty()) {
        TForm* form = pendingPaints.front();
        pendingPaints.pop_front();
        if (form->Visible()) Paint(*form);
        return true;
    }
    return FireDueTimer();
}

void WaitForMessage() {
    if (!pendingPaints.empty()) return;
    bool timerArmed = false;
    Clock::time_point deadline = Clock::now() + WaitCap;
    for (auto& [timer, since] : timers) {
        const auto at = DueAt(timer, since);
        if (!timerArmed || at < deadline) deadline = at;
        timerArmed = true;
    }
    std::unique_lock<std::mutex> lock(mutex);
    const bool signalled = wakeUp.wait_until(
        lock, deadline, [] { return !posted.empty() || woken || quitPosted; });
    woken = false;
    if (!signalled && !timerArmed)
        throw std::runtime_error("headless: nothing arrived within 5 s while waiting for a message");
}

void WakeMainThread() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        woken = true;
    }
    wakeUp.notify_all();
}

void PostQuit() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitPosted = true;
    }
    wakeUp.notify_all();
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    const headless::MessageBoxCall call{text, caption, flags};
    messageBoxCalls.push_back(call);
    return messageBoxAnswer ? messageBoxAnswer(call) : IDOK_;
}

}  // namespace backend

namespace headless {

std::vector<MessageBoxCall>& MessageBoxCalls() { return messageBoxCalls; }

void SetMessageBoxAnswer(std::function<int(const MessageBoxCall&)> answer) {
    messageBoxAnswer = std::move(answer);
}

void SetModalHandler(std::function<int(TForm&)> handler) { modalHandler = std::move(handler); }

void Post(std::function<void()> action) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        posted.push_back(std::move(action));
    }
    wakeUp.notify_all();
}

void SetProgramPath(const std::string& path) { programPath = path; }

int PaintCount(const TForm& form) {
    auto it = paintCounts.find(&form);
    return it == paintCounts.end() ? 0 : it->second;
}

int ChangeCount(const TControl& control, TChange what) {
    auto it = changeCounts.find({&control, what});
    return it == changeCounts.end() ? 0 : it->second;
}

bool IsTopmost(const TForm& form) { return topmost.count(&form) != 0; }

bool TimerArmed(const TTimer& timer) {
    return timers.count(const_cast<TTimer*>(&timer)) != 0;
}

void Reset() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        posted.clear();
        woken = false;
        quitPosted = false;
    }
    messageBoxCalls.clear();
    messageBoxAnswer = nullptr;
    modalHandler = nullptr;
    programPath = DefaultProgramPath;
    pendingPaints.clear();
    paintCounts.clear();
    changeCounts.clear();
    topmost.clear();
    timers.clear();
}

}  // namespace headless
