// Start-up, the message loop, modal loops, timers, wake-ups from worker threads and message
// boxes.
#include <atomic>
#include <unordered_map>
#include <vector>

#include "framework/Strings.h"
#include "framework/Thread.h"
#include "framework/win32/Native.h"

namespace win32 {

namespace {

// Posted to the utility window by WakeMainThread: run the synchronize requests, also while
// a loop that is not ours (a message box) has the thread.
constexpr UINT WM_SYNCHRONIZE = WM_APP + 1;

std::atomic<HWND> utility{nullptr};
std::atomic<bool> wakePosted{false};
bool quitPosted = false;

// When ProcessOneMessage last found the queue empty (0: ask next time).
constexpr long long kRecheckMicroseconds = 1000;
long long lastEmpty = 0;

std::unordered_map<UINT_PTR, TTimer*>& Timers() {
    static std::unordered_map<UINT_PTR, TTimer*> timers;
    return timers;
}

UINT_PTR nextTimerId = 1;

HANDLE WakeEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

void Quit() {
    // WM_QUIT ends the application; Terminate's own PostQuit must not post another.
    quitPosted = true;
    if (Application && !Application->Terminated()) Application->Terminate();
}

struct Disabled {
    HWND except;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND h, LPARAM lp) {
    auto* d = reinterpret_cast<Disabled*>(lp);
    if (h != d->except && IsWindowVisible(h) && IsWindowEnabled(h)) {
        EnableWindow(h, FALSE);
        d->windows.push_back(h);
    }
    return TRUE;
}

}  // namespace

HWND Utility() {
    HWND h = utility.load();
    if (h) return h;
    RegisterClasses();
    h = CreateWindowExA(0, kUtilityClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Instance(),
                        nullptr);
    utility.store(h);
    return h;
}

LRESULT CALLBACK UtilityProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_TIMER: {
        if (wp == kFlushTimer) {
            FlushUpdates();
            return 0;
        }
        auto it = Timers().find(static_cast<UINT_PTR>(wp));
        if (it == Timers().end()) return 0;
        TTimer* t = it->second;
        if (t->Enabled() && t->OnTimer) Guarded([t] { t->OnTimer(t); });
        return 0;
    }
    case WM_SYNCHRONIZE:
        wakePosted.store(false);
        Guarded([] { CheckSynchronize(); });
        return 0;
    default:
        return DefWindowProcA(h, msg, wp, lp);
    }
}

}  // namespace win32

void backend::Initialize(TApplication& app) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_WIN95_CLASSES | ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&icc);
    // Version 6 only (the manifest asks for it); an older version refuses the whole call.
    icc.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    win32::RegisterClasses();
    win32::Utility();
    win32::WakeEvent();
    char separator[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) > 0 &&
        separator[0])
        DecimalSeparator = separator[0];
    app.Title = TitleFromProgramPath(ProgramPath());
}

std::string backend::ProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::string();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
}

void backend::ScreenSize(int& width, int& height) {
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
}

int backend::CaptionHeight() { return GetSystemMetrics(SM_CYCAPTION); }

int backend::RunModal(TForm& f) {
    HWND h = win32::EnsureFormWindow(f);
    win32::Disabled disabled{h, {}};
    EnumThreadWindows(GetCurrentThreadId(), win32::DisableOne,
                      reinterpret_cast<LPARAM>(&disabled));
    while (f.ModalResult == mrNone && f.Visible()) {
        if (Application) {
            if (Application->Terminated()) break;
            Application->HandleMessage();
        } else if (!ProcessOneMessage()) {
            WaitForMessage();
        }
    }
    // Re-enabled before the form hides, so that the activation returns to one of them.
    for (HWND w : disabled.windows)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    if (f.ModalResult == mrNone) f.ModalResult = mrCancel;
    return f.ModalResult;
}

void backend::TimerChanged(TTimer& t) {
    auto id = reinterpret_cast<UINT_PTR>(t.TimerId);
    HWND util = win32::Utility();
    if (t.Enabled() && t.Interval() > 0) {
        if (!id) {
            id = win32::nextTimerId++;
            t.TimerId = reinterpret_cast<void*>(id);
            win32::Timers()[id] = &t;
        }
        SetTimer(util, id, t.Interval(), nullptr);  // restarts the interval
    } else if (id) {
        KillTimer(util, id);
    }
}

void backend::TimerDestroying(TTimer& t) {
    auto id = reinterpret_cast<UINT_PTR>(t.TimerId);
    if (!id) return;
    if (HWND util = win32::utility.load()) KillTimer(util, id);
    win32::Timers().erase(id);
    t.TimerId = nullptr;
}

bool backend::ProcessOneMessage() {
    // Called after every transfer block. Asking the window system costs a server call under
    // Wine (10 to 20 microseconds), so after finding nothing it is asked again only a
    // millisecond later; WaitForMessage asks at once.
    win32::FlushUpdatesWhenDue();
    const long long now = win32::NowMicroseconds();
    if (win32::lastEmpty && now - win32::lastEmpty < win32::kRecheckMicroseconds) return false;
    MSG msg;
    if (MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT ||
        !PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        win32::lastEmpty = now;
        return false;
    }
    win32::lastEmpty = 0;
    if (msg.message == WM_QUIT) {
        win32::Quit();
        return true;
    }
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && msg.hwnd) {
        // Tab, Enter, Escape and mnemonics in forms, as in dialogs.
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (win32::IsFormWindow(root) && IsDialogMessageA(root, &msg)) return true;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void backend::WaitForMessage() {
    win32::FlushUpdates();
    win32::lastEmpty = 0;
    HANDLE event = win32::WakeEvent();
    // MWMO_INPUTAVAILABLE: also messages that an earlier peek has seen but left.
    MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void backend::WakeMainThread() {
    // One message on its way is enough; the event covers the time before the utility
    // window exists.
    HWND util = win32::utility.load();
    if (util && !win32::wakePosted.exchange(true)) {
        if (PostMessageA(util, win32::WM_SYNCHRONIZE, 0, 0)) return;
        win32::wakePosted.store(false);
    }
    SetEvent(win32::WakeEvent());
}

void backend::PostQuit() {
    if (win32::quitPosted) return;
    win32::quitPosted = true;
    PostQuitMessage(0);
}

int backend::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    win32::FlushUpdates();
    return MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), flags);
}
