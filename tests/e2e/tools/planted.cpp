// A library planted beside a program under the name of a system library (the tests copy it as
// wininet.dll, comctl32.dll, ...). Loading it leaves <its path>.loaded; it exports the names the
// launcher used to import directly, so a program that would load it starts nonetheless and the
// marker shows what happened.
#include <string>

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            HANDLE f = CreateFileA((std::string(path, n) + ".loaded").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        }
    }
    return TRUE;
}

extern "C" int WINAPI PlantedStub() { return 0; }
