// The launcher with programs of many files: a release builds a version folder beside the
// current one, starts from it and becomes current through N.dat; what is broken or hostile
// changes nothing; a single-file client moves over; and one failing call at every step of an
// update leaves a complete version current.
#include <iostream>
#include <map>

#include "LauncherFixture.h"
#include "launcher/FolderInstall.h"
#include "signing/Sha256.h"

namespace launcher_test {
namespace {

using Files = std::map<std::string, std::string>;  // release path -> bytes

const std::string kArgs = "/x c:\\data ";

std::string Text(const std::string& stamp, const Files& files) {
    std::vector<FolderFile> list;
    for (const auto& f : files) list.push_back({signing::Sha256Hex(f.second), f.second.size(), f.first});
    return FormatFolderManifest(stamp, list);
}

// Serves the release's objects and manifest; returns the manifest.
std::string Publish(FakePlatform& os, const std::string& stamp, const Files& files) {
    for (const auto& f : files) Serve(os, "Kassa.files/" + signing::Sha256Hex(f.second), f.second);
    const std::string text = Text(stamp, files);
    Serve(os, "Kassa.txt", text);
    return text;
}

std::string Folder(const std::string& text) { return VersionFolder(kFolder, "Kassa", text); }

// True when `text`'s version folder holds exactly its files.
bool Complete(FakePlatform& os, const std::string& text, const Files& files) {
    for (const auto& f : files)
        if (os.ReadFile(Folder(text) + LocalReleasePath(f.first)) != f.second) return false;
    return true;
}

std::vector<std::string> ObjectRequests(FakePlatform& os) {
    std::vector<std::string> objects;
    for (const auto& r : os.HttpRequests())
        if (r.url.find("Kassa.files/") != std::string::npos) objects.push_back(r.url.substr(r.url.rfind('/') + 1));
    return objects;
}

const Files kR1 = {{"Kassa.exe", Program("V1")}, {"lib/a.dll", std::string(100000, 'a')}, {"data/n.txt", "note 1"}};

class FolderSequenceTest : public LauncherTest {
protected:
    // The last program start: command, working folder, watched.
    void ExpectStartedFrom(const std::string& text, bool watched) {
        ASSERT_FALSE(os.WinExecCalls().empty());
        const auto& call = os.WinExecCalls().back();
        const std::string folder = Folder(text);
        EXPECT_EQ(call.cmdLine, "\"" + folder + "Kassa.exe\" " + kArgs);
        EXPECT_EQ(call.folder, folder.substr(0, folder.size() - 1));
        EXPECT_EQ(call.show, 2u);
        ASSERT_FALSE(os.ProcessStarts().empty());
        EXPECT_EQ(os.ProcessStarts().back().second, watched);
    }
};

TEST_F(FolderSequenceTest, AReleaseBuildsBesideTheCurrentOneAndBecomesCurrentWhenItRuns) {
    const std::string t1 = Publish(os, "2026-12-08 10:00:01", kR1);
    ASSERT_TRUE(RunLauncher());
    EXPECT_TRUE(headless::MessageBoxCalls().empty());
    EXPECT_TRUE(Complete(os, t1, kR1));
    EXPECT_EQ(File("Kassa.dat"), t1);
    EXPECT_FALSE(Has("Kassa.prev.dat"));
    EXPECT_EQ(ObjectRequests(os).size(), 3u);
    ExpectStartedFrom(t1, true);

    // One file changes: that object alone travels; the current version becomes the previous.
    Files r2 = kR1;
    r2["data/n.txt"] = "note 2";
    const std::string t2 = Publish(os, "2026-12-08 10:00:02", r2);
    const size_t before = os.HttpRequests().size();
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(os.HttpRequests().size() - before, 2u);
    EXPECT_EQ(ObjectRequests(os).back(), signing::Sha256Hex("note 2"));
    EXPECT_TRUE(Complete(os, t2, r2));
    EXPECT_EQ(File("Kassa.dat"), t2);
    EXPECT_EQ(File("Kassa.prev.dat"), t1);
    ExpectStartedFrom(t2, true);

    // Up to date: started from its folder, not watched; both versions stay.
    ASSERT_TRUE(RunLauncher());
    ExpectStartedFrom(t2, false);
    EXPECT_EQ(File("Kassa.dat"), t2);
    EXPECT_TRUE(Complete(os, t1, kR1));
    EXPECT_FALSE(Has("Kassa.txt"));

    // The next release; the oldest version goes at the start after it, before anything runs.
    Files r3 = r2;
    r3["Kassa.exe"] = Program("V3");
    const std::string t3 = Publish(os, "2026-12-08 10:00:03", r3);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.dat"), t3);
    EXPECT_EQ(File("Kassa.prev.dat"), t2);
    ASSERT_TRUE(RunLauncher());
    EXPECT_FALSE(os.Exists(Folder(t1)));
    EXPECT_TRUE(Complete(os, t2, r2));
    EXPECT_EQ(os.ListFolder(kFolder + "Kassa").size(), 2u);

    // Its folder damaged: the same release is fetched again, only what is missing.
    os.Remove(Folder(t3) + "Kassa.exe");
    ASSERT_TRUE(RunLauncher());
    EXPECT_TRUE(Complete(os, t3, r3));
    EXPECT_EQ(ObjectRequests(os).back(), signing::Sha256Hex(Program("V3")));
    EXPECT_EQ(File("Kassa.dat"), t3);
}

TEST_F(FolderSequenceTest, WhatIsBrokenOrHostileChangesNothing) {
    const std::string t1 = Publish(os, "2026-12-08 10:00:01", kR1);
    ASSERT_TRUE(RunLauncher());
    ASSERT_EQ(File("Kassa.dat"), t1);
    Files r2 = kR1;
    r2["data/n.txt"] = "note 2";
    Files crashing = kR1;
    crashing["Kassa.exe"] = Program("CRASH");
    os.SetProgramBehaviour(Program("CRASH"), {false, 100, 0xC0000005u});
    struct Row {
        std::string why;
        std::function<void()> mount;
        bool bad;  // recorded in N.bad
    };
    const std::string stamp = "2026-12-08 10:00:02";
    const Row rows[] = {
        {"a path out of the folder", [&] { Serve(os, "Kassa.txt", Text(stamp, kR1) + "file " + std::string(64, 'a') + " 1 ../x.dll\r\n"); }, false},
        {"a device name", [&] { Serve(os, "Kassa.txt", Text(stamp, {{"Kassa.exe", Program("V1")}, {"aux.dll", "x"}})); }, false},
        {"a tampered object", [&] {
             Publish(os, stamp, r2);
             Serve(os, "Kassa.files/" + signing::Sha256Hex("note 2"), "note X");
         }, false},
        {"an object longer than stated", [&] {
             Publish(os, stamp, r2);
             Serve(os, "Kassa.files/" + signing::Sha256Hex("note 2"), "note 2 and more");
         }, false},
        {"no program", [&] { Publish(os, stamp, {{"Kassa.exe", "not a program"}}); }, false},
        {"a release that crashes", [&] { Publish(os, stamp, crashing); }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        os.Remove(kFolder + "Kassa.bad");
        row.mount();
        ASSERT_TRUE(RunLauncher());
        EXPECT_TRUE(headless::MessageBoxCalls().empty());
        EXPECT_EQ(File("Kassa.dat"), t1);
        EXPECT_FALSE(Has("Kassa.prev.dat"));
        EXPECT_TRUE(Complete(os, t1, kR1));
        ExpectStartedFrom(t1, false);
        EXPECT_EQ(Has("Kassa.bad"), row.bad);
        if (row.bad) {
            EXPECT_EQ(File("Kassa.bad").substr(0, 19), stamp);
            // Not fetched again while the server offers it, and its folder goes.
            const size_t before = os.HttpRequests().size();
            ASSERT_TRUE(RunLauncher());
            EXPECT_EQ(os.HttpRequests().size() - before, 1u);
            ExpectStartedFrom(t1, false);
            EXPECT_FALSE(os.Exists(Folder(Text(stamp, crashing))));
        }
        // Only the current version's folder is left, and the checked files of one that broke off.
        for (const auto& name : os.ListFolder(kFolder + "Kassa"))
            EXPECT_TRUE(name == VersionId(t1) || name == VersionId(Text(stamp, r2)) ||
                        name == VersionId(Text(stamp, r2)) + ".part" ||
                        (name == VersionId(Text(stamp, {{"Kassa.exe", "not a program"}})) && row.why == "no program"))
                << name;
    }
}

TEST_F(FolderSequenceTest, ASingleFileClientMovesToTheFolderForm) {
    os.WriteFile(kFolder + "Kassa.exe", Program("V1"));
    os.WriteFile(kFolder + "Kassa.dat", "2013-01-01 00:00:00\r\n");
    const std::string t1 = Publish(os, "2026-12-08 10:00:01", kR1);
    ASSERT_TRUE(RunLauncher());
    // The installed program stands in for the release's: only the other files travel.
    EXPECT_EQ(ObjectRequests(os), (std::vector<std::string>{signing::Sha256Hex("note 1"),
                                                            signing::Sha256Hex(std::string(100000, 'a'))}));
    EXPECT_TRUE(Complete(os, t1, kR1));
    EXPECT_EQ(File("Kassa.dat"), t1);
    EXPECT_EQ(File("Kassa.prev.dat"), "2013-01-01 00:00:00\r\n");
    EXPECT_EQ(File("Kassa.exe"), Program("V1")) << "the previous version";
    ExpectStartedFrom(t1, true);

    // After a second folder release no single-file version is kept any longer.
    Files r2 = kR1;
    r2["data/n.txt"] = "note 2";
    Publish(os, "2026-12-08 10:00:02", r2);
    ASSERT_TRUE(RunLauncher());
    EXPECT_EQ(File("Kassa.prev.dat"), t1);
    ASSERT_TRUE(RunLauncher());
    EXPECT_FALSE(Has("Kassa.exe"));
}

// Every platform call of an update from release 1 to release 2 fails in turn: afterwards N.dat
// names a version whose folder is complete, and the next start, unfailed, ends with release 2.
TEST(FolderTorture, EveryFailingCallLeavesACompleteVersionCurrent) {
    Files r2 = kR1;
    r2["data/n.txt"] = "note 2";
    r2["lib/b.dll"] = std::string(5000, 'b');
    const std::string t1 = Text("2026-12-08 10:00:01", kR1), t2 = Text("2026-12-08 10:00:02", r2);
    int runs = 0, switched = 0, kept = 0;
    const auto run = [](FakePlatform& os) {
        headless::Reset();
        PrepareMachine(os);
        headless::SetMessageBoxAnswer([](const headless::MessageBoxCall&) {
            headless::Post([] {
                if (Form1) Form1->Close();
            });
            return 1;
        });
        RunLauncher();
    };
    for (uint64_t n = 1;; ++n) {
        FakePlatform os;
        os.Install();
        PrepareMachine(os);
        for (const auto& f : kR1) os.WriteFile(Folder(t1) + LocalReleasePath(f.first), f.second);
        os.WriteFile(kFolder + "Kassa.dat", t1);
        Publish(os, "2026-12-08 10:00:02", r2);
        os.ResetCalls();
        os.FailCall(n);
        try {
            run(os);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "run " << n << ": error escaped: " << e.what();
        }
        ++runs;
        const std::string failed = n <= os.CallLog().size() ? os.CallLog()[n - 1] : "(none)";
        const auto dat = os.ReadFile(kFolder + "Kassa.dat");
        const bool isNew = dat == t2;
        EXPECT_TRUE((dat == t1 && Complete(os, t1, kR1)) || (isNew && Complete(os, t2, r2)))
            << "run " << n << " failing " << failed;
        if (isNew) {
            ++switched;
            EXPECT_EQ(os.ReadFile(kFolder + "Kassa.prev.dat"), t1) << "run " << n << " failing " << failed;
            EXPECT_TRUE(Complete(os, t1, kR1)) << "run " << n << " failing " << failed;
        } else {
            ++kept;
        }
        const bool noCallLeft = os.CallCount() < n;
        // The next start finishes what this one could not, unless this one found release 2
        // would not start (its start failed) and recorded it as bad.
        os.ResetCalls();
        run(os);
        const bool bad = os.Exists(kFolder + "Kassa.bad");
        EXPECT_EQ(os.ReadFile(kFolder + "Kassa.dat"), bad ? t1 : t2) << "after run " << n << " failing " << failed;
        EXPECT_TRUE(bad ? Complete(os, t1, kR1) : Complete(os, t2, r2)) << "after run " << n << " failing " << failed;
        EXPECT_TRUE(!bad || failed.compare(0, 13, "!StartProcess") == 0) << "run " << n << " failing " << failed;
        FakePlatform::Uninstall();
        if (noCallLeft) break;
        ASSERT_LT(n, 20000u) << "the run never ends";
    }
    headless::Reset();
    EXPECT_GT(switched, 0);
    EXPECT_GT(kept, 0);
    std::cout << "folder torture runs: " << runs << " (switched: " << switched << ", kept: " << kept << ")\n";
}

}  // namespace
}  // namespace launcher_test
