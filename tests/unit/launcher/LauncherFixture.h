#pragma once
// A machine with the launcher installed as C:\Program Files\Kassa\Kassa.exe, an update server
// at the build's base URL, and a fresh application object for every run.
#include <gtest/gtest.h>

#include <string>

#include "doubles/FakePlatform.h"
#include "framework/Application.h"
#include "framework/headless/Headless.h"
#include "launcher/uStarter.h"

namespace launcher_test {

using platform::RegRoot;
using platform::fake::FakePlatform;
using platform::fake::HttpResponse;

inline const std::string kAppData = "C:\\Documents and Settings\\Eva\\Application Data";
inline const std::string kFolder = kAppData + "\\Brakven\\Applikationer\\";
inline const std::string kLauncher = "C:\\Program Files\\Kassa\\Kassa.exe";
inline const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The smallest file the launcher takes for a Windows program, with `tag` at its end.
inline std::string Program(const std::string& tag) {
    std::string pe(0x40, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = 0x40;
    std::string header(24, '\0');
    header.replace(0, 4, std::string("PE\0\0", 4));
    header[4 + 18] = 0x02;  // an executable image
    return pe + header + tag;
}
inline const std::string kOldExe = Program("OLD");
inline const std::string kNewExe = Program("NEW");

inline std::string ServerUrl(const std::string& name) {
    return std::string(UpdateBaseUrl()) + "managedfiles/" + name;
}

// Sets up the machine around the launcher: shell library, registry, program path.
inline void PrepareMachine(FakePlatform& os, const std::string& launcher = kLauncher,
                           const std::string& arguments = "/x c:\\data") {
    os.SetSystemDirectory("C:\\Windows\\system32");
    os.WriteFile("C:\\Windows\\system32\\shell32.dll", "MZ");
    os.SetVersionInfo("C:\\Windows\\system32\\shell32.dll",
                      platform::fake::MakeVersionInfo("6.00.2900.5512", "6.00.2900.5512"));
    os.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", kAppData);
    os.SetModuleFileName(launcher);
    os.SetCommandLine("\"" + launcher + "\" " + arguments);
    headless::SetProgramPath(launcher);
}

inline void Serve(FakePlatform& os, const std::string& name, const std::string& body,
                  uint32_t status = 200) {
    HttpResponse r;
    r.status = status;
    r.body = body;
    os.SetHttp(ServerUrl(name), r);
}

// Starts the launcher as the program entry does and runs its message loop to the end.
// Returns false when the form could not be created.
inline bool RunLauncher() {
    Application = new TApplication;
    bool created = true;
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
    } catch (const std::exception&) {
        created = false;
    }
    if (created) Application->Run();
    delete Application;
    Application = nullptr;
    Form1 = nullptr;
    return created;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::Reset();
        PrepareMachine(os);
    }
    void TearDown() override { headless::Reset(); }

    std::string File(const std::string& name) const {
        return os.ReadFile(kFolder + name).value_or("<absent>");
    }
    bool Has(const std::string& name) const { return os.Exists(kFolder + name); }

    platform::fake::ScopedFakePlatform os;
};

}  // namespace launcher_test
