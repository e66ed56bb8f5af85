// Every build: one launcher per managed program at a time, and stamp files over 4 KiB are
// no stamps (the server's is discarded, a local one counts as missing).
#include "LauncherFixture.h"

namespace launcher_test {
namespace {

const std::string kMutex = LauncherMutexName(kFolder, "Kassa");

TEST_F(LauncherTest, OneLauncherPerProgramFolderAndName) {
    EXPECT_EQ(LauncherMutexName(kFolder, "Kassa"), LauncherMutexName(kFolder, "KASSA"));
    EXPECT_NE(LauncherMutexName(kFolder, "Kassa"), LauncherMutexName(kFolder, "Lager"));
    EXPECT_NE(LauncherMutexName(kFolder, "Kassa"), LauncherMutexName("D:\\Brakven\\Applikationer\\", "Kassa"));
    // A valid object name whatever the folder's length.
    const std::string deep = "C:\\" + std::string(240, 'a') + "\\Brakven\\Applikationer\\";
    EXPECT_LE(LauncherMutexName(deep, "Kassa").size(), 200u);
    EXPECT_EQ(LauncherMutexName(deep, "Kassa").find('\\'), std::string::npos);
}

TEST_F(LauncherTest, WaitsForTheOtherLauncherThenRunsAndLetsGo) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 11:00:00");
    Serve(os, "Kassa.bin", kNewExe);
    os.HoldNamedMutex(kMutex, 5);
    // The server is asked only once the other launcher has let go and this one holds it.
    bool askedInTurn = false;
    HttpResponse stamp;
    stamp.body = "2013-07-18 11:00:00";
    os.SetHttpHandler(ServerUrl("Kassa.txt"), [&](const platform::fake::HttpRequest&) {
        askedInTurn = !os.Mutex(kMutex).other && os.Mutex(kMutex).ours;
        return stamp;
    });

    ASSERT_TRUE(RunLauncher());

    EXPECT_EQ(os.NamedMutexNames(), std::vector<std::string>{kMutex});
    EXPECT_TRUE(askedInTurn);
    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_FALSE(os.NamedMutexHeld(kMutex)) << "held after the launcher ended";
}

// What launchers that did not end left of their own downloads goes once no other one runs;
// anything else in the folder stays.
TEST_F(LauncherTest, LeftDownloadsGoOnlyWhenNoOtherLauncherRuns) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00");
    const std::vector<std::string> left = {"Kassa.17.bin", "Kassa.17.bin.part", "Kassa.4242.bin.part3"};
    const std::vector<std::string> kept = {"Kassa.bin.txt", "Kassa.x1.bin", "Kassa..bin", "Lager.17.bin",
                                           "Kassa.17.binder"};
    for (const auto& name : left) os.WriteFile(kFolder + name, "x");
    for (const auto& name : kept) os.WriteFile(kFolder + name, "x");
    os.HoldNamedMutex(kMutex);
    ASSERT_TRUE(RunLauncher());
    for (const auto& name : left) EXPECT_TRUE(Has(name)) << name << " went while another launcher ran";

    os.HoldNamedMutex(kMutex, 0);
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00");
    ASSERT_TRUE(RunLauncher());
    for (const auto& name : left) EXPECT_FALSE(Has(name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(Has(name)) << name;
}

TEST_F(LauncherTest, GoesOnAfterTwoMinutesWhenTheOtherLauncherNeverEnds) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00");
    os.HoldNamedMutex(kMutex);
    const uint32_t before = os.Ticks();

    ASSERT_TRUE(RunLauncher());

    const uint32_t waited = os.Ticks() - before;
    EXPECT_GE(waited, kLauncherWaitMs);
    EXPECT_LT(waited, kLauncherWaitMs + 5000);
    EXPECT_EQ(os.WinExecCalls().size(), 1u);
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
}

TEST_F(LauncherTest, AHugeServerStampIsNotReadKeptOrRecorded) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    os.WriteFile(kFolder + "Kassa.dat", "2013-07-18 10:00:00");
    uint64_t delivered = 0;
    for (size_t size : {size_t{4097}, size_t{20} << 20}) {
        SCOPED_TRACE(size);
        HttpResponse huge;
        huge.body = "2099-01-01 00:00:00\r\n" + std::string(size - 21, 'x');
        huge.onRead = [&delivered](uint64_t d) { delivered = d; };
        os.SetHttp(ServerUrl("Kassa.txt"), huge);
        Serve(os, "Kassa.bin", kNewExe);
        ASSERT_TRUE(RunLauncher());
        EXPECT_FALSE(Has("Kassa.txt"));
        EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00");
        EXPECT_EQ(File("Kassa.exe"), kOldExe);
        EXPECT_LE(delivered, 65536u) << "the download went on past the limit";
        for (const auto& name : os.ListFolder(kFolder)) EXPECT_EQ(name.find(".part"), std::string::npos);
    }
    EXPECT_EQ(os.WinExecCalls().size(), 2u);
}

TEST_F(LauncherTest, AStampOfExactly4KiBIsAStampAndAHugeLocalOneCountsAsMissing) {
    os.WriteFile(kFolder + "Kassa.exe", kOldExe);
    const std::string stamp = "2013-07-18 10:00:00\r\n";
    os.WriteFile(kFolder + "Kassa.dat", stamp + std::string(4096 - stamp.size(), 'x'));
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00");
    Serve(os, "Kassa.bin", kNewExe);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kOldExe) << "a 4096-byte N.dat holds the same stamp";

    // One byte more and the local stamp is the default one, which the server's is newer than.
    os.WriteFile(kFolder + "Kassa.dat", stamp + std::string(4097 - stamp.size(), 'x'));
    Serve(os, "Kassa.txt", "2013-07-18 10:00:00");
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.exe"), kNewExe);
    EXPECT_EQ(File("Kassa.dat"), "2013-07-18 10:00:00");
}

}  // namespace
}  // namespace launcher_test
