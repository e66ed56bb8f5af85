// Walks one platform failure through every call of a launcher run that installs an update:
// whatever call fails, the application folder must hold a complete program afterwards, old or
// new, the new stamp is recorded only with the new program, no partial download is left,
// and no error may escape the program.
#include <iostream>

#include "LauncherFixture.h"
#include "webcopy/Resume.h"

namespace launcher_test {
namespace {

const std::string kOld = Program(std::string(9000, 'O') + "old program");
const std::string kNew = Program(std::string(13000, 'N') + "new program");

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

// The same with a part of the new program kept by an earlier start and a server that sends
// the rest: a kept part is only ever the beginning of the new program.
TEST(LauncherTorture, EveryFailingCallWhileResumingLeavesACompleteProgram) {
    const webcopy::PartialKey key{ServerUrl("Kassa.bin"), "stamp 2014-01-01 00:00:00", "\"n1\"",
                                  kNew.size()};
    const std::string part = webcopy::PartialPath(kFolder + "Kassa.bin", key);
    int runs = 0, updated = 0;
    for (uint64_t n = 1;; ++n) {
        headless::Reset();
        FakePlatform os;
        os.Install();
        SetScene(os);
        os.WriteFile(kFolder + "Kassa.bin.resume", *webcopy::KeyRecord(key));
        os.WriteFile(part, kNew.substr(0, 5000));
        os.SetHttpHandler(ServerUrl("Kassa.bin"), [](const platform::fake::HttpRequest& rq) {
            platform::fake::HttpResponse r;
            r.etag = "\"n1\"";
            r.body = kNew;
            if (rq.headers.find("Range: bytes=5000-\r\nIf-Range: \"n1\"\r\n") == 0) {
                r.status = 206;
                r.contentRange = "bytes 5000-" + std::to_string(kNew.size() - 1) + "/" +
                                 std::to_string(kNew.size());
                r.body = kNew.substr(5000);
            }
            return r;
        });
        os.ResetCalls();
        os.FailCall(n);
        headless::SetMessageBoxAnswer([](const headless::MessageBoxCall&) {
            headless::Post([] {
                if (Form1) Form1->Close();
            });
            return 1;
        });
        try {
            RunLauncher();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "run " << n << ": error escaped: " << e.what();
        }
        ++runs;
        const std::string failed = n <= os.CallLog().size() ? os.CallLog()[n - 1] : "(none)";
        const auto program = os.ReadFile(kFolder + "Kassa.exe");
        EXPECT_TRUE(program && (*program == kOld || *program == kNew)) << "run " << n << " failing " << failed;
        const auto stamp = os.ReadFile(kFolder + "Kassa.dat");
        EXPECT_TRUE(!stamp || *stamp != "2014-01-01 00:00:00\r\n" || (program && *program == kNew))
            << "run " << n << " failing " << failed;
        for (const auto& name : os.ListFolder(kFolder)) {
            if (name.size() < 8 || name.compare(name.size() - 8, 8, ".partial") != 0) continue;
            const std::string kept = os.ReadFile(kFolder + name).value_or("");
            EXPECT_EQ(kept, kNew.substr(0, kept.size())) << "run " << n << " failing " << failed;
        }
        if (program && *program == kNew) ++updated;
        const bool noCallLeft = os.CallCount() < n;
        if (noCallLeft) {
            // Unfailed, the rest alone was asked for and nothing of the part is left.
            EXPECT_EQ(os.HttpRequests().back().headers.find("Range: bytes=5000-"), 0u);
            EXPECT_FALSE(os.Exists(part));
            EXPECT_FALSE(os.Exists(kFolder + "Kassa.bin.resume"));
        }
        FakePlatform::Uninstall();
        if (noCallLeft) break;
        ASSERT_LT(n, 5000u) << "the run never ends";
    }
    headless::Reset();
    EXPECT_GT(updated, 0);
    RecordProperty("runs", runs);
}

}  // namespace
}  // namespace launcher_test
