// Watches the desktop beside a program under test (same Wine prefix, same X display).
// Every message box (#32770) is recorded and dismissed with IDOK; a borderless popup of
// 288x61 client pixels is recorded as the splash window with its geometry, layered alpha
// and the texts of its children. Runs until <stopfile> exists or the timeout.
//
//   boxwatch.exe <outfile> <stopfile> [timeout-ms [--probe]]
//
// --probe also hooks splashprobe.dll into the splash window's thread to read its fonts.
//
// Output: one line per observation, "kind key=value ...", texts as hex of their bytes
// (Windows-1252 stays exact and blanks cannot break the line apart).
#include <windows.h>

#include "wintext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;

void Emit(const std::string& line)
{
    std::string s = line + "\n";
    DWORD written = 0;
    WriteFile(g_out, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

// Places splashprobe.dll (beside this program) as a message hook on the thread of the
// splash window, where the label's font can be read (see splashprobe.cpp).
void HookSplashThread(HWND splash)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string dll(self, n);
    dll = dll.substr(0, dll.find_last_of('\\') + 1) + "splashprobe.dll";
    HMODULE module = LoadLibraryA(dll.c_str());
    FARPROC proc = module ? GetProcAddress(module, "SplashProbeHook") : nullptr;
    HHOOK hook = proc ? SetWindowsHookExA(WH_GETMESSAGE, reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(proc)), module,
                                          GetWindowThreadProcessId(splash, nullptr))
                      : nullptr;
    Emit(std::string("probehook ok=") + (hook ? "1" : "0"));
    PostMessageA(splash, WM_NULL, 0, 0);
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> out;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> out;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

// A message box: its caption, the text static, whether an icon shows, the button texts.
void RecordBox(HWND box)
{
    std::string text, buttons;
    bool icon = false;
    for (HWND c : Children(box)) {
        if (!IsWindowVisible(c)) continue;
        std::string cls = ClassOf(c);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (lstrcmpiA(cls.c_str(), "Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                // The icon static is there in every box; it holds an icon only when asked.
                DWORD_PTR hicon = 0;
                if (SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &hicon) && hicon)
                    icon = true;
            } else if (text.empty()) {
                text = StoredText(c);
            }
        } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
            if (!buttons.empty()) buttons += ",";
            buttons += Hex(StoredText(c));
        }
    }
    Emit("box caption=" + Hex(StoredText(box)) + " text=" + Hex(text) + " icon=" + (icon ? "1" : "0") +
         " buttons=" + buttons);
}

bool IsSplash(HWND h)
{
    LONG style = GetWindowLongA(h, GWL_STYLE);
    if (!(style & WS_POPUP) || (style & WS_CAPTION) == WS_CAPTION) return false;
    RECT rc;
    if (!GetClientRect(h, &rc)) return false;
    return rc.right - rc.left == 288 && rc.bottom - rc.top == 61;
}

void RecordSplash(HWND h)
{
    RECT wr, cr;
    GetWindowRect(h, &wr);
    GetClientRect(h, &cr);
    BYTE alpha = 0;
    COLORREF key = 0;
    DWORD flags = 0;
    BOOL layered = GetLayeredWindowAttributes(h, &key, &alpha, &flags);
    char line[512];
    std::snprintf(line, sizeof line,
                  "splash left=%ld top=%ld width=%ld height=%ld cwidth=%ld cheight=%ld "
                  "screen=%dx%d style=0x%08lx exstyle=0x%08lx layered=%d alpha=%u lwaflags=%lu",
                  wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top, cr.right - cr.left,
                  cr.bottom - cr.top, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                  static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)), layered ? 1 : 0,
                  static_cast<unsigned>(alpha), static_cast<unsigned long>(flags));
    Emit(std::string(line) + " caption=" + Hex(StoredText(h)));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    const std::string stopFile = argv[2];
    const DWORD timeout = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 120000;
    const bool probe = argc > 4 && std::strcmp(argv[4], "--probe") == 0;

    g_out = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_out == INVALID_HANDLE_VALUE) return 3;
    Emit("ready");

    std::map<HWND, DWORD> boxes;              // message box -> tick of the last dismissal
    std::set<HWND> windows, splashes;
    std::set<std::string> splashChildren;     // child observations already written
    const DWORD start = GetTickCount();
    bool stopped = false;
    while (!stopped) {
        // Read the stop file first and take one more full look, so a box that appeared
        // just before the stop is still recorded.
        stopped = GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
                  GetTickCount() - start > timeout;
        for (HWND h : TopLevelWindows()) {
            if (!IsWindowVisible(h)) continue;
            std::string cls = ClassOf(h);
            if (windows.insert(h).second)
                Emit("window class=" + Hex(cls) + " caption=" + Hex(StoredText(h)));
            if (cls == "#32770") {
                auto it = boxes.find(h);
                if (it == boxes.end()) {
                    RecordBox(h);
                    PostMessageA(h, WM_COMMAND, IDOK, 0);
                    boxes[h] = GetTickCount();
                } else if (GetTickCount() - it->second > 1000) {
                    PostMessageA(h, WM_COMMAND, IDOK, 0);
                    it->second = GetTickCount();
                }
            } else if (IsSplash(h)) {
                if (splashes.insert(h).second) {
                    RecordSplash(h);
                    if (probe) HookSplashThread(h);
                }
                for (HWND c : Children(h)) {
                    std::string obs = "splashchild class=" + Hex(ClassOf(c)) + " text=" + Hex(StoredText(c));
                    if (splashChildren.insert(obs).second) Emit(obs);
                }
            }
        }
        for (auto it = boxes.begin(); it != boxes.end();)
            it = IsWindow(it->first) ? std::next(it) : boxes.erase(it);
        if (!stopped) Sleep(25);
    }
    Emit(GetTickCount() - start > timeout ? "timeout" : "done");
    CloseHandle(g_out);
    return 0;
}
