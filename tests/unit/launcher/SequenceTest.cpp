// The update-and-start sequence against the platform doubles: every outcome of a run and
// what the application folder holds afterwards.
#include "LauncherFixture.h"
#include "webcopy/WebCopy.h"

namespace launcher_test {
namespace {

const std::string kExpectedCommand = "\"" + kFolder + "Kassa.exe\" /x c:\\data ";

TEST_F(LauncherTest, EqualStampsStartTheProgramAndRotateTheStamps) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00\r\n");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00\r\n");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, kExpectedCommand);
    EXPECT_EQ(os.WinExecCalls()[0].show, 2u);
    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00\r\n");
    EXPECT_FALSE(Has("Kassa.txt"));
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
}

TEST_F(LauncherTest, OlderServerStampStartsWithoutUpdateAndRecordsTheServerStamp) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 09:00:00");
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 09:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    for (const auto& r : os.HttpRequests()) EXPECT_NE(r.url, ServerUrl("Kassa.bin"));
}

TEST_F(LauncherTest, NewerServerStampReplacesAndStartsTheProgram) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00 ");  // one trailing blank is greater
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "NEW");
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00 ");
    EXPECT_FALSE(Has("Kassa.bin"));
    EXPECT_FALSE(Has("Kassa.txt"));
    EXPECT_FALSE(Has("Kassa.exe.old"));
    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, kExpectedCommand);
}

TEST_F(LauncherTest, FirstInstallFetchesTheProgram) {
    Serve(os, "Kassa.txt", "2026-12-08 10:00:00");
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "NEW");
    EXPECT_EQ(File("Kassa.dat"), "2026-12-08 10:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
}

TEST_F(LauncherTest, MissingNewProgramKeepsTheInstalledOneAndRetriesNextTime) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", "", 404);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");  // not recorded
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
}

TEST_F(LauncherTest, TruncatedNewProgramIsNeverInstalled) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    HttpResponse shortBody;
    shortBody.body = std::string(10000, 'N');
    shortBody.contentLength = 20000;
    os.SetHttp(ServerUrl("Kassa.bin"), shortBody);

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_FALSE(Has("Kassa.bin"));
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
}

TEST_F(LauncherTest, FailedRenamePutsTheOldProgramBack) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", "NEW");
    os.FailNextCall("MoveFile");  // N.bin -> N.exe

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(File("Kassa.dat"), "2013-01-01 00:00:00");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
}

TEST_F(LauncherTest, RunningProgramBlocksTheUpdate) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.Lock(kFolder + "Kassa.exe");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text,
              "Programmet troligen redan ig\xe5ng, vg st\xe4ng det och f\xf6rs\xf6k igen");
    EXPECT_EQ(headless::MessageBoxCalls()[0].caption, "Kassa");
    EXPECT_TRUE(os.WinExecCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(File("Kassa.bin"), "NEW");
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

TEST_F(LauncherTest, UnreachableServerStartsTheProgramAndDropsTheLocalStamp) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_FALSE(Has("Kassa.dat"));
    EXPECT_EQ(File("Kassa.exe"), "OLD");
}

TEST_F(LauncherTest, StampFileWithoutFirstLineCountsAsEmptyStamp) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "");
    Serve(os, "Kassa.txt", "2014-01-01 00:00:00");
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), "NEW");
    EXPECT_EQ(File("Kassa.dat"), "2014-01-01 00:00:00");
}

TEST_F(LauncherTest, EmptyServerStampNeverAsksForAnUpdate) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00");
    Serve(os, "Kassa.txt", std::string("\0junk", 5));
    Serve(os, "Kassa.bin", "NEW");

    ASSERT_TRUE(RunLauncher());

    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_EQ(File("Kassa.exe"), "OLD");
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
}

TEST_F(LauncherTest, UnreadableLocalStampIsReportedAndLeavesTheSplashIdle) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
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

TEST_F(LauncherTest, ArgumentWithBlankReachesTheProgramAsTwo) {
    PrepareMachine(os, "C:\\Kassa.exe", "\"two words\" x");
    os.WriteFile(kFolder + "Kassa.exe", "OLD");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, "\"" + kFolder + "Kassa.exe\" two words x ");
}

TEST_F(LauncherTest, PathWithoutBlankIsNotQuotedAndNoArgumentsLeaveOneBlank) {
    const std::string appData = "C:\\Data";
    os.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", appData);
    PrepareMachine(os, "D:\\KASSA.EXE", "");
    os.SetRegString(RegRoot::CurrentUser, kShellFolders, "AppData", appData);
    os.WriteFile(appData + "\\Brakven\\Applikationer\\KASSA.exe", "OLD");

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, appData + "\\Brakven\\Applikationer\\KASSA.exe ");
}

TEST_F(LauncherTest, SplashIsBorderlessCentredAndRunsTheSequenceOnce) {
    os.WriteFile(kFolder + "Kassa.exe", "OLD");
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
