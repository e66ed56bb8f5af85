// Program entry of the launcher.
#include <exception>

#include "framework/Application.h"
#include "launcher/uStarter.h"
#include "platform/win32/SystemLibraries.h"

int main() {
    RestrictLibrarySearchToSystemFolder();
    PreloadNetworkLibrary();
    Application = new TApplication;
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
    } catch (const std::exception& e) {
        return ReportUnhandledException(e);
    }
    Application->Run();
    return 0;
}
