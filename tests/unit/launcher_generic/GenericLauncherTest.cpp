// A generic launcher (configuration block unset): it says so once and starts what is
// installed, without a single request and without touching the application folder.
#include "launcher/FolderInstall.h"
#include "launcher/LauncherFixture.h"
#include "launcher/SignedUpdate.h"

namespace launcher_test {
namespace {

const std::string kNoUrlMessage =
    "N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren\r\n" + kLauncher + " saknar uppdateringsadress";

TEST_F(LauncherTest, UnsetBlockGivesNoUrlAndNoKey) {
    EXPECT_STREQ(UpdateBaseUrl(), "");
    EXPECT_EQ(UpdatePublicKey(), "");
}

TEST_F(LauncherTest, WithoutUrlTheInstalledProgramStartsAfterOneMessage) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    // Where a launcher built with the default URL would ask: nothing may reach it.
    HttpResponse stamp;
    stamp.body = "2014-01-01 00:00:00";
    os.SetHttp("http://127.0.0.1:8642/managedfiles/Kassa.txt", stamp);

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text, kNoUrlMessage);
    EXPECT_EQ(headless::MessageBoxCalls()[0].caption, "Kassa");
    EXPECT_TRUE(os.HttpRequests().empty());
    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, "\"" + kFolder + "Kassa.exe\" /x c:\\data ");
    EXPECT_EQ(os.WinExecCalls()[0].show, 2u);
    EXPECT_EQ(File("Kassa.exe"), kOldExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00");
    EXPECT_FALSE(Has("Kassa.txt"));
}

TEST_F(LauncherTest, WithoutUrlAFolderReleaseStartsFromItsFolder) {
    const std::string text = FormatFolderManifest("2013-07-18 10:00:00", {{std::string(64, 'a'), 5, "Kassa.exe"}});
    const std::string folder = VersionFolder(kFolder, "Kassa", text);
    os.WriteFile(kFolder + "Kassa.dat", text);
    os.WriteFile(folder + "Kassa.exe", kOldExe);

    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    ASSERT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_EQ(os.WinExecCalls()[0].cmdLine, "\"" + folder + "Kassa.exe\" /x c:\\data ");
    EXPECT_EQ(os.WinExecCalls()[0].folder, folder.substr(0, folder.size() - 1));
    EXPECT_EQ(File("Kassa.dat"), text);
}

TEST_F(LauncherTest, WithoutUrlAndProgramOnlyTheOneMessageIsShown) {
    ASSERT_TRUE(RunLauncher());

    ASSERT_EQ(headless::MessageBoxCalls().size(), 1u);
    EXPECT_EQ(headless::MessageBoxCalls()[0].text, kNoUrlMessage);
    EXPECT_TRUE(os.WinExecCalls().empty());
    EXPECT_TRUE(os.HttpRequests().empty());
}

}  // namespace
}  // namespace launcher_test
