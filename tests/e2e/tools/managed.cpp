// Stand-in for the program the launcher keeps up to date. Each start appends one record to
// "<own path>.log" so a test can see that it ran, which build it was, how it was shown and
// what it was given. With --stay=<ms> it stays alive that long (a running program that an
// update cannot replace); it pumps messages meanwhile so WinExec's input-idle wait ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef MANAGED_VERSION
#define MANAGED_VERSION "v1"
#endif

#ifdef MANAGED_NEEDS_LIBRARY
// From a library that is never installed beside the program: the loader refuses to start it.
extern "C" __declspec(dllimport) int missing_library_function();
#endif

namespace {

std::string ModulePath()
{
    char buf[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return std::string(buf, n);
}

// Record format, one "key=value" per line, closed by "end": the log stays readable and a
// test can split it into starts. Values are raw Windows-1252 bytes.
void AppendRecord(const std::string& logPath, int argc, char** argv)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;

    std::string rec;
    rec += "version=" MANAGED_VERSION "\n";
    rec += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    rec += "cmdline=" + std::string(GetCommandLineA()) + "\n";
    rec += "show=" + std::to_string(show) + "\n";
    char cwd[MAX_PATH * 2] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    rec += "cwd=" + std::string(cwd) + "\n";
    rec += "argc=" + std::to_string(argc - 1) + "\n";
    for (int i = 1; i < argc; ++i) rec += "arg=" + std::string(argv[i]) + "\n";
    rec += "end\n";

    // Opened for append with sharing, so a second instance may write at the same time.
    HANDLE h = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, rec.data(), static_cast<DWORD>(rec.size()), &written, nullptr);
    CloseHandle(h);
}

void Stay(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(20);
    }
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef MANAGED_CRASH
    // A release that crashes at start: an access violation before anything else.
    *static_cast<volatile int*>(nullptr) = argc;
#endif
#ifdef MANAGED_NEEDS_LIBRARY
    if (argc < 0) return missing_library_function();
#endif
    AppendRecord(ModulePath() + ".log", argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--stay=", 7) == 0) {
            Stay(static_cast<DWORD>(std::strtoul(argv[i] + 7, nullptr, 10)));
        }
    }
    return 0;
}
