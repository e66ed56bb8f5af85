// The update-and-start sequence against the platform doubles: every outcome of a run and
// what the application folder holds afterwards.
#include "LauncherFixture.h"
#include "webcopy/WebCopy.h"

namespace launcher_test {
namespace {

const std::string kExpectedCommand = "\"" + kFolder + "Kassa.exe\" /x c:\\data ";

TEST_F(LauncherTest, EqualStampsStartTheProgramAndRotateTheStamps) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00\r\n");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00\r\n");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, kExpectedCommand);
    EXPECT_EQ(os.WinExecCalls()[0].show, 2u);
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00\r\n");
    EXPECT_FALSE(Has("Kassa.txt"));
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
}

TEST_F(LauncherTest, OlderServerStampStartsWithoutUpdateAndRecordsTheServerStamp) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 09:00:00");
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 09:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    for (const auto& r : os.HttpRequests()) EXPECT_NE(r.url, ServerUrl("Kassa.bin"));
}

TEST_F(LauncherTest, NewerServerStampReplacesAndStartsTheProgram) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:01 \r\n");  // blanks after a stamp do not count
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_EQ(File("Kassa.prev.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:01 \r\n");
    EXPECT_EQ(os.ListFolder(kFolder), (std::vector<std::string>{"Kassa.dat", "Kassa.exe", "Kassa.log", "Kassa.prev.exe"}));
    // After an update the start is watched, with crash dialogs off.
    ASSERT_EQ(os.ProcessStarts().size(), 1u);
    EXPECT_EQ(os.ProcessStarts()[0], std::make_pair(kExpectedCommand, true));
    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].show, 2u);

    // Up to date: started as always, not watched, the same stamp with a blank is no newer.
    Serve(os, "Kassa.txt", "2013-07-18 10:00:01");
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(os.ProcessStarts().size(), 1u);
    EXPECT_EQ(os.WinExecCalls().size(), 2u);
    EXPECT_EQ(File("Kassa.prev.exe"), kOldExe);
}

TEST_F(LauncherTest, FirstInstallFetchesTheProgram) {
    Serve(os, "Kassa.txt", "2026-12-08 10:00:00");
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_EQ(File("Kassa.dat"), "2026-12-08 10:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
}

// How the new program fails to arrive, and what an earlier run left as Kassa.bin.
struct NotArrived {
    const char* why;
    uint32_t status;
    const char* leftOver;
};
void PrintTo(const NotArrived& row, std::ostream* out) { *out << row.why; }
class MissingNewProgram : public LauncherTest, public ::testing::WithParamInterface<NotArrived> {};

TEST_P(MissingNewProgram, KeepsTheInstalledOneAndRetriesNextTime) {
    const NotArrived& row = GetParam();
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    if (row.leftOver) os.WriteFile(kFolder + "Kassa.bin", row.leftOver);
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", "", row.status);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");  // not recorded
    EXPECT_FALSE(Has("Kassa.bin"));
    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, kExpectedCommand);
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
}
INSTANTIATE_TEST_SUITE_P(
    Launcher, MissingNewProgram,
    ::testing::Values(NotArrived{"NotFound", 404, nullptr}, NotArrived{"NotFoundLeftOver", 404, "STALE"},
                      NotArrived{"EmptyBody", 200, nullptr}, NotArrived{"EmptyBodyLeftOver", 200, "STALE"}),
    [](const auto& info) { return std::string(info.param.why); });

TEST_F(LauncherTest, TruncatedNewProgramIsNeverInstalled) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    HttpResponse shortBody;
    shortBody.body = std::string(10000, 'N');
    shortBody.contentLength = 20000;
    os.SetHttp(ServerUrl("Kassa.bin"), shortBody);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_FALSE(Has("Kassa.bin"));
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
}

TEST_F(LauncherTest, FailedRenamePutsTheOldProgramBack) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", kNewExe);
    os.FailNextCall("File.Rename");  // N.bin -> N.exe

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
}

TEST_F(LauncherTest, RunningProgramBlocksTheUpdate) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.Lock(kFolder + "Kassa.exe");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text,
              "Programmet troligen redan ig\xe5ng, vg st\xe4ng det och f\xf6rs\xf6k igen");
    EXPECT_EQ(headless::MessageBoxCalls()[0].caption, "Kassa");
    EXPECT_TRUE(os.WinExecCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_FALSE(Has("Kassa.bin"));
    for (const auto& call : os.CallLog()) EXPECT_NE(call.rfind("MoveFile " + kFolder + "Kassa.exe", 0), 0u) << call;
    EXPECT_EQ(File("Kassa.txt"), "2014-01-01 00:00:00");
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_FALSE(Has("Kassa.exe.old"));
}

TEST_F(LauncherTest, MissingProgramIsReportedAndTheStampKept) {
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2013-01-01 00:00:00");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text,
              "N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren \r\n" + kFolder +
                  "Kassa.exe saknas");
    EXPECT_EQ(headless::MessageBoxCalls()[0].caption, "Kassa");
    EXPECT_EQ(headless::MessageBoxCalls()[0].flags, 0u);
    EXPECT_TRUE(os.WinExecCalls().empty());
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_TRUE(Has("Kassa.txt"));
}

// Why the server's stamp does not arrive (status 0: no server), and whether an earlier run
// left a newer Kassa.txt.
struct Offline {
    const char* why;
    uint32_t status;
    bool leftOverStamp;
};
void PrintTo(const Offline& row, std::ostream* out) { *out << row.why; }
class OfflineStart : public LauncherTest, public ::testing::WithParamInterface<Offline> {};

TEST_P(OfflineStart, StartsTheProgramAndKeepsTheLocalStamp) {
    const Offline& row = GetParam();
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    // A newer stamp left by an earlier run is no word from the server in this one.
    if (row.leftOverStamp) os.WriteFile(kFolder + "Kassa.txt", "2014-01-01 00:00:00");
    if (row.status) Serve(os, "Kassa.txt", "2014-01-01 00:00:00", row.status);
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_FALSE(Has("Kassa.txt"));
    for (const auto& r : os.HttpRequests()) EXPECT_NE(r.url, ServerUrl("Kassa.bin"));
}
INSTANTIATE_TEST_SUITE_P(Launcher, OfflineStart,
                         ::testing::Values(Offline{"Unreachable", 0, false}, Offline{"NotFound", 404, true},
                                           Offline{"ServerError", 500, false}, Offline{"NeedsLogin", 401, true}),
                         [](const auto& info) { return std::string(info.param.why); });

// How a new release behaves when it is started after the update.
struct NewStart {
    const char* why;
    platform::fake::ProgramBehaviour behaviour;
    bool rolledBack;
};
void PrintTo(const NewStart& row, std::ostream* out) { *out << row.why; }
class StartAfterUpdate : public LauncherTest, public ::testing::WithParamInterface<NewStart> {};

TEST_P(StartAfterUpdate, AReleaseThatWillNotStartIsRolledBackAndNotFetchedAgain) {
    const NewStart& row = GetParam();
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", kNewExe);
    os.SetProgramBehaviour(kNewExe, row.behaviour);

    ASSERT_TRUE(RunLauncher());

    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    ASSERT_EQ(os.ProcessStarts().size(), 1u);
    if (!row.rolledBack) {
        EXPECT_EQ(File("Kassa.exe"), kNewExe);
        EXPECT_EQ(File("Kassa.dat"), "2014-01-01 00:00:00");
        EXPECT_FALSE(Has("Kassa.bad"));
        EXPECT_EQ(os.WinExecCalls().size(), 1u);
        return;
    }
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_EQ(File("Kassa.bad"), "2014-01-01 00:00:00\r\n");
    // The previous program is started as always after the failed one.
    ASSERT_EQ(os.WinExecCalls().size(), 2u);
    EXPECT_EQ(os.WinExecCalls()[1].cmdLine, kExpectedCommand);
    EXPECT_EQ(os.ProcessStarts().size(), 1u);

    // The same release is not fetched again; a newer one is tried as usual.
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(os.HttpRequests().back().url, ServerUrl("Kassa.txt"));
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:01");
    Serve(os, "Kassa.bin", Program("FIXED"));
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), Program("FIXED"));
    EXPECT_EQ(File("Kassa.prev.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2014-01-01 00:00:01");
}
INSTANTIATE_TEST_SUITE_P(
    Launcher, StartAfterUpdate,
    ::testing::Values(NewStart{"CannotStart", {true, std::nullopt, 0}, true},
                      NewStart{"AccessViolation", {false, 200, 0xC0000005u}, true},
                      NewStart{"MissingLibrary", {false, 50, 0xC0000135u}, true},
                      NewStart{"StackBufferOverrun", {false, 4900, 0xC0000409u}, true},
                      NewStart{"CrashAfterTheWatch", {false, 5200, 0xC0000005u}, false},
                      NewStart{"EndsWithMinusOne", {false, 100, 0xFFFFFFFFu}, false},
                      NewStart{"EndsWithOne", {false, 100, 1}, false},
                      NewStart{"RunsOn", {false, std::nullopt, 0}, false}),
    [](const auto& info) { return std::string(info.param.why); });

TEST_F(LauncherTest, AFirstInstallThatWillNotStartIsReportedAndRecordedAsBad) {
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", kNewExe);
    os.WriteFile(kFolder + "Kassa.prev.exe", Program("LONG AGO"));
    os.SetProgramBehaviour(kNewExe, {false, 100, 0xC000007Bu});

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text,
              "N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren\r\n" + kFolder +
                  "Kassa.exe kunde inte startas");
    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_FALSE(Has("Kassa.dat"));
    EXPECT_EQ(File("Kassa.bad"), "2014-01-01 00:00:00\r\n");
    EXPECT_FALSE(Has("Kassa.prev.exe")) << "nothing was replaced, so nothing goes back";

    // Up to date with what is there, the installed program is started as always.
    os.SetWinExecResult(11);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(os.HttpRequests().back().url, ServerUrl("Kassa.txt"));
    EXPECT_EQ(headless::MessageBoxCalls().size(), 2u);
    EXPECT_EQ(os.WinExecCalls().size(), 2u);
}

TEST_F(LauncherTest, StampFileWithoutFirstLineCountsAsEmptyStamp) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_EQ(File("Kassa.dat"), "2014-01-01 00:00:00");
}

TEST_F(LauncherTest, EmptyServerStampNeverAsksForAnUpdate) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", std::string("\0junk", 5));
    Serve(os, "Kassa.bin", kNewExe);

    ASSERT_TRUE(RunLauncher());

    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");  // no stamp to record
}

TEST_F(LauncherTest, UnreadableLocalStampIsReportedAndLeavesTheSplashIdle) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    os.FailNextCall("Open");
    // The splash stays until the user closes it; the message box answer closes it here.
    headless::SetMessageBoxAnswer([](const headless::MessageBoxCall&) {
        headless::Post([] { Form1->Close(); });
        return 1;
    });

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text, "Cannot open file " + kFolder + "Kassa.dat.");
    EXPECT_EQ(headless::MessageBoxCalls()[0].flags, 0x10u);
    EXPECT_TRUE(os.WinExecCalls().empty());
    EXPECT_TRUE(os.HttpRequests().empty());
}

TEST_F(LauncherTest, ArgumentsReachTheProgramAsTheyWereGiven) {
    // A file association: the document path holds blanks; the rest shows the quoting rules.
    PrepareMachine(os, "C:\\Kassa.exe",
                   "\"C:\\Mina filer\\order 7.kas\" x\\y \"\" \"say \\\"hi\\\"\" \"C:\\dir x\\\\\"");
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine,
              "\"" + kFolder +
                  "Kassa.exe\" \"C:\\Mina filer\\order 7.kas\" x\\y \"\" \"say \\\"hi\\\"\" \"C:\\dir x\\\\\" ");
}

TEST_F(LauncherTest, PathWithoutBlankIsNotQuotedAndNoArgumentsLeaveOneBlank) {
    const std::string appData = "C:\\Data";
    os.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", appData);
    PrepareMachine(os, "D:\\KASSA.EXE", "");
    os.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", appData);
    os.WriteFile(appData + "\\Brakven\\Applikationer\\KASSA.exe", kOldExe);

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, appData + "\\Brakven\\Applikationer\\KASSA.exe ");
}

TEST_F(LauncherTest, SplashIsBorderlessCentredAndRunsTheSequenceOnce) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    Application = new TApplication;
    Application->Initialize();
    Application->CreateForm(Form1);
    TForm1* form = Form1;
    EXPECT_EQ(form->ClientWidth(), 288);
    EXPECT_EQ(form->ClientHeight(), 61);
    EXPECT_EQ(form->BorderStyle, bsNone);
    EXPECT_EQ(form->BorderIcons, 0);
    EXPECT_TRUE(form->AlphaBlend);
    EXPECT_EQ(form->AlphaBlendValue, 200);
    EXPECT_EQ(form->Label1->Caption(), "Versionkontroll...");
    EXPECT_EQ(form->Label1->Font().Name, "Trebuchet MS");
    EXPECT_EQ(form->Label1->Font().Height, -19);
    EXPECT_EQ(form->Label1->Font().Color, 0x00C08000u);
    EXPECT_FALSE(form->Timer1->Enabled());
    EXPECT_EQ(form->Tag, 0);

    // Repaint from inside the sequence: paints after the first do not trigger again.
    form->WebCopy1->OnFileStart = [form](TObject*, int) { form->Repaint(); };
    Application->Run();
    EXPECT_EQ(form->Left(), (1024 - 288) / 2);
    EXPECT_EQ(form->Top(), (768 - 61) / 2);
    EXPECT_EQ(form->Tag, 1);
    EXPECT_GE(headless::PaintCount(*form), 2);
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    delete Application;
    Application = nullptr;
    Form1 = nullptr;
}

TEST_F(LauncherTest, FormCannotBeCreatedWithoutShellVersion) {
    os.SetVersionInfoError("C:\\Windows\\system32\\shell32.dll", 1813);
    EXPECT_FALSE(RunLauncher());
}

}  // namespace
}  // namespace launcher_test
