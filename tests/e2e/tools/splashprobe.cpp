// Hook library that boxwatch.exe --probe places on the splash window's thread
// (WH_GETMESSAGE). A font handle means nothing outside its process and Wine does not pass
// WM_GETFONT between processes, so the label's font is read here, inside the program under
// test. Each new (text, font) of a child of the splash window is appended to the file named
// by the environment variable E2E_SPLASH_PROBE of that program; without it nothing happens.
#include <windows.h>

#include "wintext.h"

#include <set>
#include <string>

namespace {

bool IsSplash(HWND h)
{
    RECT rc;
    LONG style = GetWindowLongA(h, GWL_STYLE);
    return (style & WS_POPUP) && (style & WS_CAPTION) != WS_CAPTION && IsWindowVisible(h) &&
           GetClientRect(h, &rc) && rc.right == 288 && rc.bottom == 61;
}

void Append(const std::string& path, const std::string& line)
{
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
}

void Probe(const std::string& out)
{
    static std::set<std::string> seen;
    HWND splash = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM p) -> BOOL {
            if (!IsSplash(h)) return TRUE;
            *reinterpret_cast<HWND*>(p) = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&splash));
    if (!splash) return;
    for (HWND c = GetWindow(splash, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char text[512];
        int n = GetWindowTextA(c, text, sizeof text);
        std::string line = "probe text=" + Hex(std::string(text, n > 0 ? n : 0));
        LOGFONTA lf;
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(c, WM_GETFONT, 0, 0));
        if (font && GetObjectA(font, sizeof lf, &lf) == sizeof lf)
            line += " face=" + Hex(lf.lfFaceName) + " height=" + std::to_string(lf.lfHeight) +
                    " weight=" + std::to_string(lf.lfWeight) + " italic=" + std::to_string(lf.lfItalic) +
                    " charset=" + std::to_string(lf.lfCharSet);
        else
            line += " font=none";
        if (seen.insert(line).second) Append(out, line + "\n");
    }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK SplashProbeHook(int code, WPARAM wParam, LPARAM lParam)
{
    static DWORD last = 0;
    // Every 20 ms at most: the hook sees every message the thread takes.
    if (code == HC_ACTION && GetTickCount() - last >= 20) {
        last = GetTickCount();
        char out[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("E2E_SPLASH_PROBE", out, sizeof out);
        if (n > 0 && n < sizeof out) Probe(out);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
