// The FTP operations through Execute against the fake FTP servers: the kept connection and
// its key, working folders, date rules, listings, names from the server, and failures.
#include <gtest/gtest.h>

#include "framework/headless/Headless.h"
#include "RunFixture.h"

namespace {

using platform::fake::MakeFileTime;
using Events = std::vector<std::string>;

const char kHost[] = "ftp.example";
const TDateTime kServerDate = EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 0);  // the fake's default

class Ftp : public WebCopyRun {
protected:
    void SetUp() override {
        WebCopyRun::SetUp();
        fake.AddFtpServer(kHost, "anna", "pw", "/home");
        RecordEvents();
        wc->OnMultiFTPFileDone = [this](TObject*, const std::string& n) { events.push_back("MultiDone " + n); };
        wc->OnRemovedFile = [this](TObject*, int i) { events.push_back("Removed " + std::to_string(i)); };
        wc->OnRemovedFileFailed = [this](TObject*, int i) { events.push_back("RemoveFailed " + std::to_string(i)); };
    }
    TWebCopyItem& Add(TWebCopyProtocol kind, const std::string& url, const std::string& dir = "C:\\dl",
                      const std::string& name = "") {
        TWebCopyItem* item = wc->Items.Add();
        item->Protocol = kind;
        item->URL = url;
        item->TargetDir = dir;
        item->TargetFilename = name;
        item->FTPHost = kHost;
        item->FTPUserID = "anna";
        item->FTPPassword = "pw";
        return *item;
    }
    // Events without the run's frame.
    Events JobEvents() const {
        Events e;
        for (const auto& x : events)
            if (x.rfind("FileStart", 0) && x.rfind("FileDone", 0) && x != "BeforeDialogShow" && x != "CopyDone")
                e.push_back(x);
        return e;
    }
    size_t Connects() const { return fake.ConnectCalls().size(); }
};

TEST_F(Ftp, KeptConnectionServesOnlyTheSameServerAndAccount) {
    fake.AddFtpServer("other", "", "", "/");
    fake.FtpWriteFile(kHost, "/home/a.txt", "A");
    fake.FtpWriteFile("other", "/a.txt", "B");
    const struct {
        const char* why;
        const char* host;
        int port;
        const char *user, *password;
        size_t connects;
    } cases[] = {{"same key", kHost, 21, "anna", "pw", 1},
                 {"other port", kHost, 2121, "anna", "pw", 2},
                 {"other password", "other", 21, "anna", "x", 2},
                 {"anonymous", "other", 21, "", "", 2}};
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        fake.ResetCalls();
        const size_t before = Connects();
        Add(wpFtp, "a.txt", "C:\\dl", "1.txt");
        TWebCopyItem& second = Add(wpFtpUpload, "C:\\dl\\1.txt", "", "up.txt");
        second.FTPHost = c.host;
        second.FTPPort = c.port;
        second.FTPUserID = c.user;
        second.FTPPassword = c.password;
        wc->Execute();
        EXPECT_EQ(Connects() - before, c.connects) << c.why;
        EXPECT_TRUE(wc->Items[0].Done && wc->Items[1].Done) << c.why;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << c.why << ": the session takes the kept connection along";
        const auto& last = fake.ConnectCalls().back();
        EXPECT_EQ(last.port, c.port) << c.why;
        EXPECT_EQ(last.user.has_value(), *c.user != 0) << c.why << ": an anonymous login passes null";
    }
    // A new run never reuses a connection of an earlier one.
    const size_t before = Connects();
    wc->Execute();
    EXPECT_EQ(Connects() - before, 2u);
}

// Every way out of a job on a kept connection leaves it in the folder it started in, so the
// next job's relative path means the same.
TEST_F(Ftp, KeptConnectionGetsItsFolderBackOnEveryExit) {
    fake.FtpWriteFile(kHost, "/home/pub/a.txt", "A");
    fake.FtpWriteFile(kHost, "/home/pub/b.txt", "B");
    fake.WriteFile("C:\\dl\\u.txt", "U");
    const struct {
        const char* why;
        TWebCopyProtocol kind;
        const char *url, *dir;
        bool newerOnly, refuseOverwrite, done;
    } cases[] = {{"fetched", wpFtp, "pub/a.txt", "C:\\dl", false, false, true},
                 {"not newer", wpFtp, "pub/a.txt", "C:\\dl", true, false, false},
                 {"not found", wpFtp, "pub/none.txt", "C:\\dl", false, false, false},
                 {"overwrite refused", wpFtp, "pub/b.txt", "C:\\dl", false, true, false},
                 {"uploaded", wpFtpUpload, "C:\\dl\\u.txt", "pub\\new/deep", false, false, true},
                 {"missing source", wpFtpUpload, "C:\\dl\\none.txt", "pub", false, false, false}};
    for (const auto& c : cases) {
        fake.WriteFile("C:\\dl\\b.txt", "old");
        wc->Items.Clear();
        wc->OnCopyOverWrite = [&](TObject*, const std::string&, bool& allow) { allow = !c.refuseOverwrite; };
        TWebCopyItem& first = Add(c.kind, c.url, c.dir);
        first.CopyNewerOnly = c.newerOnly;
        first.FileDate = kServerDate;
        Add(wpFtp, "pub/b.txt", "C:\\dl", "b2.txt");
        const size_t before = Connects();
        wc->Execute();
        EXPECT_EQ(wc->Items[0].Done, c.done) << c.why;
        EXPECT_TRUE(wc->Items[1].Done) << c.why;
        EXPECT_EQ(fake.ReadFile("C:\\dl\\b2.txt"), "B") << c.why;
        EXPECT_EQ(Connects() - before, 1u) << c.why;
        fake.Remove("C:\\dl\\b2.txt");
    }
}

// The deletion enters its folder even when an earlier upload went there and a connection of
// the same account is kept: that connection is back in its login folder by then.
TEST_F(Ftp, DeletionActsInItsFolderWhateverAnEarlierUploadLeft) {
    fake.WriteFile("C:\\src\\x.txt", "new");
    fake.FtpMakeDirectory(kHost, "/home/in/2024");
    fake.FtpWriteFile(kHost, "/home/x.txt", "keep me");
    Add(wpFtpUpload, "C:\\src\\x.txt", "in/2024/");  // kept for the download
    Add(wpFtp, "in/2024/x.txt", "C:\\dl", "back.txt");
    Add(wpMultiFtp, "*.none");                         // keeps a connection in the login folder
    Add(wpFtpDelete, "x.txt", "in/2024/");
    Add(wpFtpDelete, "", "in/2024/", "gone.txt");
    Add(wpFtpDelete, "", "no/such", "x.txt");
    wc->Execute();
    EXPECT_EQ(fake.ReadFile("C:\\dl\\back.txt"), "new");
    EXPECT_FALSE(fake.FtpExists(kHost, "/home/in/2024/x.txt"));
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/x.txt"), "keep me");
    EXPECT_EQ(JobEvents(), (Events{"Removed 3", "RemoveFailed 4", "Error 6",
                                   "Info 6 Cannot connect to FTP server ftp.example"}));
    std::vector<bool> done;
    for (int i = 0; i < wc->Items.Count(); ++i) done.push_back(wc->Items[i].Done);
    EXPECT_EQ(done, (std::vector<bool>{true, true, true, true, true, false}));
}

TEST_F(Ftp, DateRules) {
    fake.FtpWriteFile(kHost, "/home/a.txt", "server");
    fake.WriteFile("C:\\src\\a.txt", "local");
    const TDateTime second = 1.0 / 86400;
    const struct {
        TWebCopyProtocol kind;
        TDateTime fileDate;
        bool moved, noNewer;
    } cases[] = {
        {wpFtp, kServerDate, false, true},             // the same date is not newer
        {wpFtp, kServerDate - second, true, false},
        {wpFtpUpload, kServerDate - second, false, true},  // the server's copy is newer
        {wpFtpUpload, kServerDate, true, false},
    };
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        fake.Remove("C:\\dl\\a.txt");
        fake.FtpWriteFile(kHost, "/home/a.txt", "server");
        TWebCopyItem& job = c.kind == wpFtp ? Add(wpFtp, "a.txt") : Add(wpFtpUpload, "C:\\src\\a.txt", "");
        job.CopyNewerOnly = true;
        job.FileDate = c.fileDate;
        wc->Execute();
        const bool moved = c.kind == wpFtp ? fake.Exists("C:\\dl\\a.txt")
                                           : fake.FtpReadFile(kHost, "/home/a.txt") == "local";
        EXPECT_EQ(moved, c.moved) << c.kind << " " << c.fileDate;
        EXPECT_EQ(job.NoNewerFile, c.noNewer);
        EXPECT_EQ(job.Done, c.moved);
        EXPECT_DOUBLE_EQ(job.FoundFileDate, kServerDate);
        if (c.noNewer) {
            EXPECT_EQ(JobEvents().back(), "NoNewFile a.txt");
        }
    }
}

TEST_F(Ftp, ListingReplacesItsResultsAndPassesOverNamesThatArePaths) {
    fake.FtpWriteFile(kHost, "/home/pub/a.txt", "AA", MakeFileTime(2023, 5, 6, 7, 8, 9));
    fake.FtpWriteFile(kHost, "/home/pub/..\\up.txt", "evil");
    fake.FtpWriteFile(kHost, "/home/pub/c:x.txt", "evil");
    fake.FtpMakeDirectory(kHost, "/home/pub/sub.txt");
    TWebCopyItem& job = Add(wpFtpList, "pub\\*.txt", "");
    wc->Execute();
    ASSERT_TRUE(job.FileList && job.FileDetails);
    EXPECT_EQ(job.FileList->Text(), "a.txt\r\nsub.txt\r\n");
    ASSERT_EQ(job.FileDetails->Count(), 2);
    const TFileDetailItem& a = (*job.FileDetails)[0];
    EXPECT_EQ(a.FileName, "a.txt");
    EXPECT_EQ(a.SizeLow, 2u);
    EXPECT_EQ(a.FileTime.dwLowDateTime, MakeFileTime(2023, 5, 6, 7, 8, 9).dwLowDateTime);
    EXPECT_EQ((*job.FileDetails)[1].Attributes, 0x10u);
    EXPECT_EQ(JobEvents(), (Events{"Error 8", "Info 8 Refused file name from server ..\\up.txt",
                                   "Error 8", "Info 8 Refused file name from server c:x.txt"}));
    EXPECT_TRUE(job.Done);

    const TStringList* before = job.FileList.get();
    wc->Items[0].URL = "pub/*.none";
    wc->Execute();
    ASSERT_TRUE(job.FileList && job.FileDetails);
    EXPECT_NE(job.FileList.get(), before);
    EXPECT_EQ(job.FileList->Count(), 0);
    EXPECT_EQ(job.FileDetails->Count(), 0);
}

TEST_F(Ftp, MaskDownloadFetchesEveryPlainNameIntoTheTargetOnly) {
    fake.FtpWriteFile(kHost, "/home/pub/1.txt", "one");
    fake.FtpWriteFile(kHost, "/home/pub/2.txt", Body(5000));
    fake.FtpWriteFile(kHost, "/home/pub/..\\..\\evil.txt", "evil");
    fake.FtpWriteFile(kHost, "/home/pub/x.bin", "no");
    fake.SetFtpFileSizeAlwaysZero(true);
    std::vector<std::string> progress;
    wc->OnCopyProgress = [&](TObject*, int i, uint32_t done, uint32_t total) {
        progress.push_back(std::to_string(i) + " " + std::to_string(done) + "/" + std::to_string(total));
    };
    Add(wpMultiFtp, "pub\\*.txt", "C:\\dl\\new\\sub");
    wc->Execute();
    EXPECT_EQ(JobEvents(), (Events{"Error 8", "Info 8 Refused file name from server ..\\..\\evil.txt",
                                   "MultiDone 1.txt", "MultiDone 2.txt"}));
    EXPECT_EQ(fake.ListFolder("C:\\dl\\new\\sub"), (std::vector<std::string>{"1.txt", "2.txt"}));
    EXPECT_EQ(fake.ReadFile("C:\\dl\\new\\sub\\2.txt"), Body(5000));
    EXPECT_EQ(fake.ListFolder("C:\\"), (std::vector<std::string>{"dl"}));
    // Sizes come from the listing; each file counts from 0.
    EXPECT_EQ(progress, (Events{"1 3/3", "1 3/3", "1 4096/5000", "1 5000/5000", "1 5000/5000"}));
    EXPECT_TRUE(wc->Items[0].Done);
}

TEST_F(Ftp, MaskUploadSendsTheFilesOfAFolder) {
    fake.WriteFile("C:\\up\\a.txt", "a");
    fake.WriteFile("C:\\up\\b.txt", "b");
    fake.WriteFile("C:\\up\\c.bin", "c");
    Add(wpMultiFtpUpload, "C:\\up\\*.txt", "/out/new");
    wc->Execute();
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/out/new/a.txt"), "a");  // a leading "/" stays below
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/out/new/b.txt"), "b");
    EXPECT_FALSE(fake.FtpExists(kHost, "/home/out/new/c.bin"));
    EXPECT_EQ(JobEvents(), (Events{"MultiDone a.txt", "MultiDone b.txt"}));
    EXPECT_EQ(Connects(), 2u);  // the job's own and the one the files share
}

// Nothing half-written: a failed or cancelled transfer leaves the old copy or none.
TEST_F(Ftp, FailuresLeaveNoPartAndAreReported) {
    fake.FtpWriteFile(kHost, "/home/big.bin", Body(20000));
    fake.WriteFile("C:\\src\\big.bin", Body(20000));
    const struct {
        const char* why;
        TWebCopyProtocol kind;
        const char* failCall;
        bool cancel;
        Events reported;
    } cases[] = {
        {"read fails", wpFtp, "InternetReadFile", false,
         {"OverWrite C:\\dl\\big.bin", "Error 4", "Info 4 Error reading source file big.bin"}},
        {"download cancelled", wpFtp, nullptr, true, {"OverWrite C:\\dl\\big.bin", "CopyCancel"}},
        {"send fails", wpFtpUpload, "InternetWriteFile", false,
         {"Error 5", "Info 5 Error writing to destination file big.bin"}},
        {"upload cancelled", wpFtpUpload, nullptr, true, {"CopyCancel"}},
        {"login refused", wpFtp, nullptr, false,
         {"Error 6", "Info 6 Cannot connect to FTP server ftp.example"}},
    };
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        fake.WriteFile("C:\\dl\\big.bin", "old");
        fake.FtpWriteFile(kHost, "/home/big.bin", "old");
        TWebCopyItem& job = c.kind == wpFtp ? Add(wpFtp, "big.bin") : Add(wpFtpUpload, "C:\\src\\big.bin", "");
        if (c.kind == wpFtp) fake.FtpWriteFile(kHost, "/home/big.bin", Body(20000));
        if (std::string(c.why) == "login refused") job.FTPPassword = "wrong";
        if (c.failCall) fake.FailNextCall(c.failCall, 2);
        fake.SetTransferHook([&](uint64_t moved) {
            if (c.cancel && moved == 8192) headless::Post([this] { Dialog()->CancelButton->Click(); });
        });
        wc->Execute();
        EXPECT_FALSE(job.Done) << c.why;
        EXPECT_EQ(JobEvents(), c.reported) << c.why;
        EXPECT_EQ(fake.ListFolder("C:\\dl"), (std::vector<std::string>{"big.bin"})) << c.why;
        EXPECT_EQ(fake.ReadFile("C:\\dl\\big.bin"), "old") << c.why;
        // The server keeps its copy, and no temporary file is left beside it.
        EXPECT_EQ(fake.FtpReadFile(kHost, "/home/big.bin"), c.kind == wpFtp ? Body(20000) : "old") << c.why;
        EXPECT_EQ(fake.FtpTree(kHost), (Events{"/home/", "/home/big.bin"})) << c.why;
    }
}

// A source that cannot be read is found out before the server's copy is opened.
TEST_F(Ftp, MissingSourceLeavesTheServersCopy) {
    fake.FtpWriteFile(kHost, "/home/a.txt", "server");
    Add(wpFtpUpload, "C:\\src\\none.txt", "", "a.txt");
    wc->Execute();
    EXPECT_EQ(JobEvents(), (Events{"NotFound C:\\src\\none.txt", "Error 1",
                                   "Info 1 Cannot open source file C:\\src\\none.txt"}));
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/a.txt"), "server");
    EXPECT_FALSE(wc->Items[0].Done);
}

using platform::fake::FtpFaults;

// An upload reaches the final name only when the server holds every byte under the temporary
// one; anything less leaves the server's old copy and no temporary file.
TEST_F(Ftp, UploadTakesTheFinalNameOnlyWhenTheServerHoldsEveryByte) {
    fake.WriteFile("C:\\src\\a.txt", Body(10000));
    const struct {
        const char* why;
        FtpFaults faults;
        const char* failCall;
        bool done;
    } cases[] = {
        {"accepted", {}, nullptr, true},
        {"size from the listing", {false, true, false, {}, {}, ""}, nullptr, true},
        {"150 then 550", {false, false, false, {}, {}, "550 Quota exceeded."}, nullptr, false},
        {"no size to confirm", {true, true, false, {}, {}, ""}, nullptr, false},
        {"rename refused", {false, false, true, {}, {}, ""}, nullptr, false},
        {"close fails", {}, "InternetCloseHandle", false},
    };
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        fake.FtpWriteFile(kHost, "/home/in/a.txt", "old");
        fake.SetFtpFaults(kHost, c.faults);
        Add(wpFtpUpload, "C:\\src\\a.txt", "in");
        if (c.failCall) fake.FailNextCall(c.failCall);
        wc->Execute();
        EXPECT_EQ(wc->Items[0].Done, c.done) << c.why;
        EXPECT_EQ(fake.FtpReadFile(kHost, "/home/in/a.txt"), c.done ? Body(10000) : "old") << c.why;
        EXPECT_EQ(fake.FtpTree(kHost), (Events{"/home/", "/home/in/", "/home/in/a.txt"})) << c.why;
        if (!c.done) {
            EXPECT_EQ(JobEvents(), (Events{"Error 5", "Info 5 Error writing to destination file a.txt"})) << c.why;
        }
    }
}

TEST_F(Ftp, MaskUploadConfirmsEachFileOnItsOwn) {
    fake.WriteFile("C:\\up\\a.txt", "new a");
    fake.WriteFile("C:\\up\\b.txt", "new b");
    fake.FtpWriteFile(kHost, "/home/out/a.txt", "old a");
    fake.FtpWriteFile(kHost, "/home/out/b.txt", "old b");
    fake.FailNextCall("FtpRenameFile", 2);
    Add(wpMultiFtpUpload, "C:\\up\\*.txt", "out");
    wc->Execute();
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/out/a.txt"), "new a");
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/out/b.txt"), "old b");
    EXPECT_EQ(fake.FtpTree(kHost), (Events{"/home/", "/home/out/", "/home/out/a.txt", "/home/out/b.txt"}));
    EXPECT_EQ(JobEvents(), (Events{"MultiDone a.txt", "Error 5", "Info 5 Error writing to destination file b.txt",
                                   "MultiDone b.txt"}));
}

// A download takes the old file's place only when the bytes received are the server's size,
// counted in 64 bits, and the server's final reply is no error.
TEST_F(Ftp, DownloadKeepsTheOldFileUnlessEveryByteArrived) {
    const uint64_t huge = (uint64_t{1} << 32) + 1000;
    const struct {
        const char* why;
        FtpFaults faults;
        bool done;
    } cases[] = {
        {"size asked when the listing is refused", {true, false, false, {}, {}, ""}, true},
        {"cut, size asked", {true, false, false, {}, 50000, ""}, false},
        {"cut, no size: the final reply tells", {true, true, false, {}, 50000, ""}, false},
        {"150 then 550", {true, true, false, {}, 0, "550 Failed to open file."}, false},
        {"listed above 4 GiB, SIZE refused", {false, true, false, huge, {}, ""}, false},
    };
    fake.SetFtpFileSizeAlwaysZero(true);
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        fake.WriteFile("C:\\dl\\big.bin", "old");
        fake.FtpWriteFile(kHost, "/home/pub/big.bin", Body(200000).substr(0, c.faults.listedSize ? 1000 : 200000));
        fake.SetFtpFaults(kHost, c.faults);
        uint32_t lastTotal = 0;
        wc->OnCopyProgress = [&](TObject*, int, uint32_t, uint32_t total) { lastTotal = total; };
        Add(wpFtp, "pub/big.bin");
        wc->Execute();
        EXPECT_EQ(wc->Items[0].Done, c.done) << c.why;
        EXPECT_EQ(fake.ReadFile("C:\\dl\\big.bin"), c.done ? Body(200000) : "old") << c.why;
        EXPECT_EQ(fake.ListFolder("C:\\dl"), (std::vector<std::string>{"big.bin"})) << c.why;
        if (!c.done) {
            EXPECT_EQ(JobEvents(), (Events{"OverWrite C:\\dl\\big.bin", "Error 4",
                                           "Info 4 Error reading source file pub/big.bin"})) << c.why;
        }
        if (c.faults.listedSize) {
            EXPECT_EQ(lastTotal, UINT32_MAX) << "a size above 32 bits is held, not wrapped";
        }
    }
}

// A server that goes silent on the data connection fails the transfer after the stall
// limit, both ways; the old copies stay and nothing waits for ever.
TEST_F(Ftp, SilentDataConnectionFailsAfterTheStallLimit) {
    wc->StallTimeout = 5;
    fake.WriteFile("C:\\dl\\big.bin", "old");
    fake.FtpWriteFile(kHost, "/home/pub/big.bin", Body(200000));
    fake.SetFtpDownloadStallAfter(50000);
    Add(wpFtp, "pub/big.bin");
    uint32_t ticks = fake.Ticks();
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_GE(fake.Ticks() - ticks, 5000u);
    EXPECT_EQ(fake.ReadFile("C:\\dl\\big.bin"), "old");
    EXPECT_EQ(fake.ListFolder("C:\\dl"), (std::vector<std::string>{"big.bin"}));
    EXPECT_EQ(JobEvents(), (Events{"OverWrite C:\\dl\\big.bin", "Error 4",
                                   "Info 4 Error reading source file pub/big.bin"}));

    wc->Items.Clear();
    events.clear();
    fake.SetFtpDownloadStallAfter(std::nullopt);
    fake.SetUploadStallAfter(8192);
    fake.WriteFile("C:\\src\\a.txt", Body(20000));
    fake.FtpWriteFile(kHost, "/home/in/a.txt", "old");
    Add(wpFtpUpload, "C:\\src\\a.txt", "in");
    ticks = fake.Ticks();
    wc->Execute();
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_GE(fake.Ticks() - ticks, 5000u);
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/in/a.txt"), "old");
    EXPECT_EQ(fake.FtpTree(kHost), (Events{"/home/", "/home/in/", "/home/in/a.txt", "/home/pub/",
                                           "/home/pub/big.bin"}));
    EXPECT_EQ(JobEvents(), (Events{"Error 12002", "Info 12002 The operation timed out\r\n"}))
        << "a stall says it is one";
}

// Nothing is read from, written to or deleted in another folder than the one named.
TEST_F(Ftp, FolderThatCannotBeEnteredFailsTheJob) {
    fake.FtpWriteFile(kHost, "/home/readme.txt", "login folder");
    fake.WriteFile("C:\\src\\readme.txt", "new");
    const Events tree{"/home/", "/home/readme.txt"};
    const struct {
        const char* why;
        TWebCopyProtocol kind;
        const char *url, *dir, *name;
    } cases[] = {
        {"download", wpFtp, "nosuch/readme.txt", "C:\\dl", ""},
        {"mask download", wpMultiFtp, "nosuch/*.txt", "C:\\dl", ""},
        {"listing", wpFtpList, "nosuch/*", "", ""},
        {"upload", wpFtpUpload, "C:\\src\\readme.txt", "new/sub", ""},
        {"mask upload", wpMultiFtpUpload, "C:\\src\\*.txt", "new/sub", ""},
        {"deletion, folder of the URL", wpFtpDelete, "nosuch/readme.txt", "", ""},
        {"deletion, target folder", wpFtpDelete, "", "nosuch", "readme.txt"},
    };
    for (const auto& c : cases) {
        wc->Items.Clear();
        events.clear();
        Add(c.kind, c.url, c.dir, c.name);
        if (c.kind == wpFtpUpload || c.kind == wpMultiFtpUpload) fake.FailNextCall("FtpCreateDirectory");
        wc->Execute();
        EXPECT_FALSE(wc->Items[0].Done) << c.why;
        EXPECT_EQ(JobEvents(), (Events{"Error 6", "Info 6 Cannot connect to FTP server ftp.example"})) << c.why;
        EXPECT_EQ(fake.FtpTree(kHost), tree) << c.why;
        EXPECT_EQ(fake.FtpReadFile(kHost, "/home/readme.txt"), "login folder") << c.why;
        EXPECT_TRUE(fake.ListFolder("C:\\dl").empty()) << c.why;
        if (wc->Items[0].FileList) {
            EXPECT_EQ(wc->Items[0].FileList->Count(), 0) << c.why;
        }
    }
}

TEST_F(Ftp, PortOutsideItsRangeIsAConnectErrorNotAnotherPort) {
    for (int port : {0, -21, 65536, 113682}) {
        wc->Items.Clear();
        events.clear();
        Add(wpFtp, "a.txt").FTPPort = port;
        wc->Execute();
        EXPECT_FALSE(wc->Items[0].Done) << port;
        EXPECT_EQ(JobEvents(), (Events{"Error 6", "Info 6 Cannot connect to FTP server ftp.example"})) << port;
    }
    EXPECT_EQ(Connects(), 0u);
}

// A date outside the calendar is no date: the run goes on, and the file counts as new.
TEST_F(Ftp, ImpossibleServerDateIsNoDate) {
    const platform::FileTime impossible{0xFFFFFFFFu, 0xFFFFFFFFu};
    fake.FtpWriteFile(kHost, "/home/a.txt", "A", impossible);
    fake.WriteFile("C:\\src\\a.txt", "local");
    Add(wpFtp, "a.txt").CopyNewerOnly = true;
    TWebCopyItem& up = Add(wpFtpUpload, "C:\\src\\a.txt", "", "a.txt");
    up.CopyNewerOnly = true;
    up.FileDate = kServerDate;
    wc->Execute();
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_TRUE(wc->Items[1].Done);
    EXPECT_EQ(fake.ReadFile("C:\\dl\\a.txt"), "A");
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/a.txt"), "local");
}

// A log file another program keeps open for writing can be sent.
TEST_F(Ftp, UploadReadsASourceHeldOpenForWriting) {
    fake.WriteFile("C:\\src\\log.txt", "log");
    std::unique_ptr<platform::File> writer = fake.Open("C:\\src\\log.txt", platform::OpenMode::ReadWrite);
    ASSERT_TRUE(writer);
    Add(wpFtpUpload, "C:\\src\\log.txt", "");
    wc->Execute();
    writer.reset();
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_EQ(fake.FtpReadFile(kHost, "/home/log.txt"), "log");
}

}  // namespace
