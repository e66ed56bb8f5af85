// The program is started from wherever it was put, and Windows looks for a library that is not
// on its known-library list in the program's folder first: a file named like a system library
// beside the program would run inside it. So the program imports directly only known system
// libraries (the build checks its import table); the others are delay-imported
// (cmake/DelayImports.cmake) and the delay-load helper's hooks below load them from the system
// folder.
#include "platform/win32/SystemLibraries.h"

#include <cstdio>
#include <string>

#include <windows.h>
#include <delayimp.h>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Present from Windows 8 on (Windows 7 with its 2011 loader update); the LOAD_LIBRARY_SEARCH_*
// flags work exactly where it exists.
SetDefaultDllDirectoriesFn SetDefaultDllDirectoriesProc() {
    static const auto proc = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    return proc;
}

HMODULE LoadFromSystemFolder(const char* name) {
    if (SetDefaultDllDirectoriesProc())
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return LoadLibraryA((std::string(folder, n) + "\\" + name).c_str());
}

// A missing system library or function leaves nothing sensible to do; the helper would raise
// an exception that nothing catches.
[[noreturn]] void ReportAndExit(const char* what, const char* library, DWORD error) {
    char text[512];
    std::snprintf(text, sizeof text, "Cannot load %s%s from the system folder (system error %lu).",
                  what, library, static_cast<unsigned long>(error));
    MessageBoxA(nullptr, text, "Application Error", MB_ICONERROR | MB_TASKMODAL | MB_OK);
    ExitProcess(1);
}

FARPROC WINAPI NotifyHook(unsigned reason, PDelayLoadInfo info) {
    if (reason != dliNotePreLoadLibrary) return nullptr;
    // Never hand back nullptr here: the helper would then try a plain LoadLibraryA, which
    // searches the program's folder on systems without the search flags.
    HMODULE module = LoadFromSystemFolder(info->szDll);
    if (!module) ReportAndExit("", info->szDll, GetLastError());
    return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI FailureHook(unsigned reason, PDelayLoadInfo info) {
    if (reason == dliFailGetProc) {
        const std::string what = info->dlp.fImportByName
                                     ? std::string(info->dlp.szProcName)
                                     : "#" + std::to_string(info->dlp.dwOrdinal);
        ReportAndExit((what + " of ").c_str(), info->szDll, info->dwLastError);
    }
    ReportAndExit("", info->szDll, info->dwLastError);
}

}  // namespace

// Read by the delay-load helper; defined here so the program's own hooks replace the runtime's
// empty ones.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
}

void* LoadSystemLibrary(const char* name) { return LoadFromSystemFolder(name); }

static DWORD WINAPI PreloadThread(LPVOID) { return LoadFromSystemFolder("wininet.dll") != nullptr; }

void PreloadNetworkLibrary() {
    if (HANDLE thread = ::CreateThread(nullptr, 0, PreloadThread, nullptr, 0, nullptr)) ::CloseHandle(thread);
}

void RestrictLibrarySearchToSystemFolder() {
    if (auto set = SetDefaultDllDirectoriesProc()) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Common controls 6 loads MSIMG32 by name when it first draws a blend, and a loader that
    // does not apply the search flags to a system library's own loads would take a file of
    // that name from the program's folder. Once loaded from the system folder, that is the
    // one every later load by name gets.
    LoadFromSystemFolder("msimg32.dll");
}
