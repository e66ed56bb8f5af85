// Walks one platform failure through every call of a launcher run that installs an update:
// whatever call fails, the application folder must hold a complete program afterwards, old or
// new, the new stamp is recorded only with the new program, no partial download is left,
// and no error may escape the program.
#include <iostream>

#include "LauncherFixture.h"

namespace launcher_test {
namespace {

const std::string kOld = std::string(9000, 'O') + "old program";
const std::string kNew = std::string(13000, 'N') + "new program";

void SetScene(FakePlatform& os) {
    PrepareMachine(os);
    os.WriteFile(kFolder + "Kassa.exe", kOld);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00\r\n");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00\r\n");
    Serve(os, "Kassa.bin", kNew);
}

TEST(LauncherTorture, EveryFailingCallLeavesACompleteProgram) {
    int runs = 0, updated = 0, kept = 0, startupReports = 0;
    for (uint64_t n = 1;; ++n) {
        headless::Reset();
        FakePlatform os;
        os.Install();
        SetScene(os);
        os.ResetCalls();
        os.FailCall(n);
        // Answer every message box; a splash left idle by an error report is closed by the user.
        headless::SetMessageBoxAnswer([](const headless::MessageBoxCall&) {
            headless::Post([] {
                if (Form1) Form1->Close();
            });
            return 1;
        });

        bool created = false;
        try {
            created = RunLauncher();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "run " << n << ": error escaped: " << e.what();
        }
        ++runs;
        if (!created) ++startupReports;

        const auto program = os.ReadFile(kFolder + "Kassa.exe");
        const std::string failed = n <= os.CallLog().size() ? os.CallLog()[n - 1] : "(none)";
        EXPECT_TRUE(program && (*program == kOld || *program == kNew))
            << "run " << n << " failing " << failed << " left "
            << (program ? std::to_string(program->size()) + " bytes" : "no program");
        const auto stamp = os.ReadFile(kFolder + "Kassa.dat");
        EXPECT_TRUE(!stamp || *stamp != "2014-01-01 00:00:00\r\n" || (program && *program == kNew))
            << "run " << n << " failing " << failed << " recorded the stamp without the program";
        const auto download = os.ReadFile(kFolder + "Kassa.bin");
        EXPECT_TRUE(!download || *download == kNew)
            << "run " << n << " failing " << failed << " left " << download->size() << " bytes in Kassa.bin";
        if (program && *program == kNew) ++updated;
        if (program && *program == kOld) ++kept;

        const bool noCallLeft = os.CallCount() < n;
        FakePlatform::Uninstall();
        if (noCallLeft) break;
        ASSERT_LT(n, 5000u) << "the run never ends";
    }
    headless::Reset();
    EXPECT_GT(updated, 0);
    EXPECT_GT(kept, 0);
    std::cout << "torture runs: " << runs << " (new program: " << updated << ", old kept: " << kept
              << ", form not created: " << startupReports << ")\n";
    RecordProperty("runs", runs);
}

}  // namespace
}  // namespace launcher_test
