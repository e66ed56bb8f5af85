// Drives a dialog of a program under test from beside it (same Wine prefix, same X display):
// waits for a top-level window by its caption, records its geometry and its controls, clicks
// buttons and fills the login form. Runs the steps of its command line in order and ends
// after the last one, or at the first step that fails.
//
//   dlgdriver.exe <outfile> [--timeout-ms N] STEP...
//
// Steps:
//   --wait-caption PREFIX [--having TEXT]  a visible top-level window of another process
//                             whose caption starts with PREFIX (and, with --having, that has
//                             a child whose text starts with TEXT) becomes the current one
//   --wait-text TEXT          a child of the current window has a text starting with TEXT
//   --wait-progress N         the current window's progress bar stands at N or more
//   --wait-gone               the current window is destroyed or hidden
//   --sleep MS
//   --dump                    the current window and its children (lines below)
//   --click TEXT              PostMessage(BM_CLICK) to the child button whose text is TEXT
//   --login USER PASSWORD     fills the first and second edit (z-order, the tab order) and
//                             clicks "OK"
//   --login-cancel            clicks "Cancel"
//   --file-exists PATH        records whether PATH is a file and its size
// A wait gives up after the timeout (default 30000 ms).
//
// Output, one line each, texts as hex of their bytes:
//   ready | found caption= class= | window ... | child ... | enddump | clicked text= |
//   filled user= password= | file path= exists= size= | gone | fail step= reason= | done
#include <windows.h>

#include "wintext.h"
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;
DWORD g_timeout = 30000;
HWND g_current = nullptr;
std::string g_reason = "timeout";  // why the failing step failed

void Emit(const std::string& line)
{
    std::string s = line + "\n";
    DWORD written = 0;
    WriteFile(g_out, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

bool IsClass(HWND h, const char* cls) { return lstrcmpiA(ClassOf(h).c_str(), cls) == 0; }

// An edit keeps its text itself: ask it.
std::string TextOf(HWND h)
{
    if (!IsClass(h, "Edit")) return StoredText(h);
    char buf[4096] = {};
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                             5000, &n))
        return StoredText(h);
    return std::string(buf, n);
}

// Children in z-order, which the dialog manager follows as the tab order.
std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

HWND ChildWithText(HWND parent, const std::string& prefix, bool exact)
{
    for (HWND c : Children(parent)) {
        std::string t = StoredText(c);
        if (exact ? t == prefix : StartsWith(t, prefix)) return c;
    }
    return nullptr;
}

struct TopLevelQuery {
    const std::string* caption;
    const std::string* having;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND h, LPARAM p)
{
    auto* q = reinterpret_cast<TopLevelQuery*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId() || !IsWindowVisible(h)) return TRUE;
    if (!StartsWith(StoredText(h), *q->caption)) return TRUE;
    if (!q->having->empty() && !ChildWithText(h, *q->having, false)) return TRUE;
    q->found = h;
    return FALSE;
}

HWND FindTopLevel(const std::string& caption, const std::string& having)
{
    TopLevelQuery q{&caption, &having, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

// -1 when the control does not answer.
int ProgressPos(HWND bar)
{
    DWORD_PTR pos = 0;
    if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos)) return -1;
    return static_cast<int>(pos);
}

HWND ProgressBarOf(HWND dialog)
{
    for (HWND c : Children(dialog))
        if (IsClass(c, PROGRESS_CLASSA)) return c;
    return nullptr;
}

template <typename Pred>
bool WaitFor(Pred done)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start > g_timeout) return false;
        Sleep(25);
    }
}

void Dump(HWND dialog)
{
    RECT wr, cr;
    GetWindowRect(dialog, &wr);
    GetClientRect(dialog, &cr);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    const LONG exstyle = GetWindowLongA(dialog, GWL_EXSTYLE);
    char line[1024];
    std::snprintf(line, sizeof line,
                  "window left=%ld top=%ld width=%ld height=%ld cleft=%ld ctop=%ld cwidth=%ld cheight=%ld "
                  "style=0x%08lx exstyle=0x%08lx sysmenu=%d topmost=%d captionh=%d screen=%dx%d",
                  wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top, origin.x - wr.left, origin.y - wr.top,
                  cr.right - cr.left, cr.bottom - cr.top, static_cast<unsigned long>(style),
                  static_cast<unsigned long>(exstyle), (style & WS_SYSMENU) ? 1 : 0, (exstyle & WS_EX_TOPMOST) ? 1 : 0,
                  GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    Emit(std::string(line) + " class=" + Hex(ClassOf(dialog)) + " caption=" + Hex(StoredText(dialog)));
    for (HWND c : Children(dialog)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);  // client coordinates
        const int pos = IsClass(c, PROGRESS_CLASSA) ? ProgressPos(c) : -1;
        std::snprintf(line, sizeof line,
                      "child left=%ld top=%ld width=%ld height=%ld visible=%d enabled=%d pos=%d style=0x%08lx",
                      r.left, r.top, r.right - r.left, r.bottom - r.top, IsWindowVisible(c) ? 1 : 0,
                      IsWindowEnabled(c) ? 1 : 0, pos, static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)));
        Emit(std::string(line) + " class=" + Hex(ClassOf(c)) + " text=" + Hex(TextOf(c)));
    }
    Emit("enddump");
}

bool Click(HWND dialog, const std::string& text)
{
    HWND button = ChildWithText(dialog, text, true);
    if (!button || !IsClass(button, "Button")) {
        g_reason = "no-button";
        return false;
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    Emit("clicked text=" + Hex(text));
    return true;
}

bool SetText(HWND edit, const std::string& text)
{
    DWORD_PTR ok = 0;
    return SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                               5000, &ok) &&
           ok;
}

bool Login(HWND dialog, const std::string& user, const std::string& password)
{
    std::vector<HWND> edits;
    for (HWND c : Children(dialog))
        if (IsClass(c, "Edit")) edits.push_back(c);
    if (edits.size() < 2 || !SetText(edits[0], user) || !SetText(edits[1], password)) {
        g_reason = "no-edits";
        return false;
    }
    Emit("filled user=" + Hex(TextOf(edits[0])) + " password=" + Hex(TextOf(edits[1])));
    return Click(dialog, "OK");
}

// Runs one step starting at argv[i]; advances i past its arguments. False: the step failed.
bool Step(int argc, char** argv, int& i)
{
    const std::string step = argv[i];
    auto arg = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    auto needCurrent = [&]() {
        if (g_current && IsWindow(g_current)) return true;
        g_reason = "no-window";
        return false;
    };
    if (step == "--timeout-ms") {
        g_timeout = std::strtoul(arg().c_str(), nullptr, 10);
        return true;
    }
    if (step == "--wait-caption") {
        const std::string caption = arg();
        std::string having;
        if (i + 2 < argc && std::strcmp(argv[i + 1], "--having") == 0) {
            ++i;
            having = arg();
        }
        HWND found = nullptr;
        if (!WaitFor([&] { return (found = FindTopLevel(caption, having)) != nullptr; })) return false;
        g_current = found;
        Emit("found caption=" + Hex(StoredText(found)) + " class=" + Hex(ClassOf(found)));
        return true;
    }
    if (step == "--sleep") {
        Sleep(std::strtoul(arg().c_str(), nullptr, 10));
        return true;
    }
    if (step == "--file-exists") {
        const std::string path = arg();
        WIN32_FILE_ATTRIBUTE_DATA data;
        const bool file = GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
                          !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        Emit("file path=" + Hex(path) + " exists=" + (file ? "1" : "0") +
             " size=" + std::to_string(file ? data.nFileSizeLow : 0));
        return true;
    }
    if (!needCurrent()) return false;
    if (step == "--wait-text") {
        const std::string text = arg();
        return WaitFor([&] { return IsWindow(g_current) && ChildWithText(g_current, text, false); });
    }
    if (step == "--wait-progress") {
        const int wanted = std::atoi(arg().c_str());
        HWND bar = ProgressBarOf(g_current);
        if (!bar) g_reason = "no-progress-bar";
        return bar && WaitFor([&] { return IsWindow(bar) && ProgressPos(bar) >= wanted; });
    }
    if (step == "--wait-gone") {
        if (!WaitFor([] { return !IsWindow(g_current) || !IsWindowVisible(g_current); })) return false;
        Emit("gone");
        return true;
    }
    if (step == "--dump") {
        Dump(g_current);
        return true;
    }
    if (step == "--click") return Click(g_current, arg());
    if (step == "--login") {
        const std::string user = arg();
        return Login(g_current, user, arg());
    }
    if (step == "--login-cancel") return Click(g_current, "Cancel");
    g_reason = "unknown-step";
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    g_out = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_out == INVALID_HANDLE_VALUE) return 3;
    Emit("ready");
    for (int i = 2; i < argc; ++i) {
        const char* step = argv[i];
        if (!Step(argc, argv, i)) {
            Emit(std::string("fail step=") + step + " reason=" + g_reason);
            CloseHandle(g_out);
            return 1;
        }
    }
    Emit("done");
    CloseHandle(g_out);
    return 0;
}
