// The file copy, run through Execute against the fake file system and share service.
#include <gtest/gtest.h>

#include <functional>

#include "framework/headless/Headless.h"
#include "RunFixture.h"
#include "webcopy/Operations.h"

namespace {

using platform::fake::MakeFileTime;
using Events = std::vector<std::string>;

const char kSource[] = "C:\\src\\a.txt";
const char kTarget[] = "C:\\dl\\a.txt";

class FileCopyRun : public WebCopyRun {
protected:
    TWebCopyItem& AddCopy(const std::string& source = kSource) {
        TWebCopyItem* item = wc->Items.Add();
        item->Protocol = wpFile;
        item->URL = source;
        item->TargetDir = "C:\\dl";
        return *item;
    }
    void Record() {
        RecordEvents();
        wc->OnConnectError = [this](TObject*) { events.push_back("ConnectError"); };
    }
    // Nothing but the expected files in the target folder: no temporary file is left.
    void ExpectTargetFolder(const Events& names) { EXPECT_EQ(fake.ListFolder("C:\\dl"), names); }
};

TEST_F(FileCopyRun, ShareConnectionIsTheCopysOwn) {
    const struct {
        const char* name;
        uint32_t add, cancel;
        bool copied, cancelled, done;
        int connectErrors;
    } cases[] = {{"connected and disconnected", 0, 0, true, true, true, 0},
                 {"cannot connect", 1326, 0, false, false, false, 1},
                 {"cannot disconnect", 0, 2250, true, true, false, 1},
                 {"connected before", 85, 0, true, false, true, 0},
                 {"connected before as another user", 1219, 0, true, false, true, 0}};
    fake.WriteFile("\\\\srv\\share\\dir\\a.txt", "remote");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.Remove(kTarget);
        fake.ResetCalls();
        const size_t adds = fake.WNetAddCalls().size(), cancels = fake.WNetCancelCalls().size();
        fake.SetWNetAddResult(c.add);
        fake.SetWNetCancelResult(c.cancel);
        wc->Items.Clear();
        TWebCopyItem& item = AddCopy("dir\\a.txt");
        item.FTPHost = "\\\\srv\\share";
        item.FTPUserID = "kim";
        item.FTPPassword = "";  // an empty password is still passed as a text
        int connectErrors = 0;
        wc->OnConnectError = [&](TObject*) { ++connectErrors; };
        wc->Execute();
        ASSERT_EQ(fake.WNetAddCalls().size(), adds + 1);
        EXPECT_EQ(fake.WNetAddCalls().back().remoteName, "\\\\srv\\share");
        EXPECT_EQ(fake.WNetAddCalls().back().userName, "kim");
        ASSERT_EQ(fake.WNetCancelCalls().size(), cancels + (c.cancelled ? 1 : 0));
        if (c.cancelled) {
            const auto& cancel = fake.WNetCancelCalls().back();
            EXPECT_EQ(cancel.name, "\\\\srv\\share");
            EXPECT_EQ(cancel.flags, 0u);  // the user's profile is left alone
            EXPECT_FALSE(cancel.force);   // other programs' open files stay open
        }
        EXPECT_EQ(fake.ReadFile(kTarget), c.copied ? std::optional<std::string>("remote") : std::nullopt);
        EXPECT_EQ(connectErrors, c.connectErrors);
        EXPECT_EQ(wc->Items[0].Done, c.done);
    }
    // A plain local copy makes no network call.
    const size_t adds = fake.WNetAddCalls().size();
    fake.WriteFile(kSource, "local");
    wc->Items.Clear();
    AddCopy();
    wc->Execute();
    EXPECT_EQ(fake.WNetAddCalls().size(), adds);
    EXPECT_EQ(fake.ReadFile(kTarget), "local");
}

TEST_F(FileCopyRun, FailuresAreReportedAndLeaveTheOldTarget) {
    const struct {
        const char* name;
        std::function<void(TWebCopyItem&)> setUp;
        Events reported;
    } cases[] = {
        {"identical paths", [](TWebCopyItem& i) { i.URL = kTarget; },
         {"Error 0", "Info 0 Cannot copy identical files C:\\dl\\a.txt"}},
        {"identical but for case", [](TWebCopyItem& i) { i.URL = "c:\\DL\\A.txt"; },
         {"Error 0", "Info 0 Cannot copy identical files c:\\DL\\A.txt"}},
        {"missing source", [](TWebCopyItem& i) { i.URL = "C:\\src\\none.txt"; },
         {"Error 1", "Info 1 Cannot open source file C:\\src\\none.txt"}},
        {"size unknown", [this](TWebCopyItem&) { fake.FailNextCall("File.Seek"); },
         {"Error 2", "Info 2 Zero length source file C:\\src\\a.txt"}},
        {"target folder blocked", [this](TWebCopyItem& i) {
             fake.WriteFile("C:\\dl\\f", "");
             i.TargetDir = "C:\\dl\\f\\sub";
         }, {"Error 3", "Info 3 Cannot create target file C:\\dl\\f\\sub\\a.txt"}},
        {"read fails", [this](TWebCopyItem&) { fake.FailNextCall("File.Read", 2); },
         {"Error 4", "Info 4 Error reading source file C:\\src\\a.txt"}},
        {"write fails", [this](TWebCopyItem&) { fake.FailNextCall("File.Write", 2); },
         {"Error 5", "Info 5 Error writing to destination file C:\\dl\\a.txt"}},
        {"short write", [this](TWebCopyItem&) { fake.SetMaxFileSize(20000); },
         {"Error 5", "Info 5 Error writing to destination file C:\\dl\\a.txt"}},
        {"cannot be put in place", [this](TWebCopyItem&) { fake.FailNextCall("ReplaceFile"); },
         {"Error 5", "Info 5 Error writing to destination file C:\\dl\\a.txt"}},
    };
    fake.WriteFile(kSource, Body((1 << 20) + 40000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        Record();
        wc->OnCopyOverWrite = nullptr;
        fake.Remove("C:\\dl");
        fake.WriteFile(kTarget, "old");
        fake.SetMaxFileSize(UINT64_MAX);
        wc->Items.Clear();
        c.setUp(AddCopy());
        wc->Execute();
        Events expected{"BeforeDialogShow", "FileStart 0"};
        expected.insert(expected.end(), c.reported.begin(), c.reported.end());
        expected.insert(expected.end(), {"FileDone 0", "CopyDone"});
        EXPECT_EQ(events, expected);
        EXPECT_EQ(fake.ReadFile(kTarget), "old");
        EXPECT_FALSE(wc->Items[0].Done);
        fake.Remove("C:\\dl\\f");
        ExpectTargetFolder({"a.txt"});
    }
}

TEST_F(FileCopyRun, DateRuleOnTheSourcesLocalTime) {
    fake.WriteFile(kSource, "new");
    fake.SetLastWriteTime(kSource, MakeFileTime(2024, 5, 6, 7, 8, 9));
    fake.SetTimeZoneBias(60);
    const TDateTime local = EncodeDate(2024, 5, 6) + EncodeTime(8, 8, 9, 0);
    const struct {
        const char* name;
        int handler;  // -1: none, 0: refuses, 1: allows
        TDateTime fileDate;
        bool copies;
        TDateTime found;
    } cases[] = {{"equal date", -1, local, false, local},
                 {"newer source", -1, local - 0.5, true, local},
                 {"handler refuses", 0, local - 1, false, local - 1},
                 {"handler allows an older source", 1, local + 1, true, local}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.Remove(kTarget);
        wc->Items.Clear();
        TWebCopyItem& item = AddCopy();
        item.CopyNewerOnly = true;
        item.FileDate = c.fileDate;
        Events seen;
        wc->OnFileDateCheck = nullptr;
        if (c.handler >= 0)
            wc->OnFileDateCheck = [&](TObject*, int idx, TDateTime d, bool& allow) {
                EXPECT_EQ(d, local);
                seen.push_back("check " + std::to_string(idx));
                allow = c.handler == 1;
            };
        wc->OnNoNewFileFound = [&](TObject*, const std::string& f, TDateTime a, TDateTime b) {
            EXPECT_EQ(a, local);
            EXPECT_EQ(b, local);
            seen.push_back("no newer " + f);
        };
        wc->Execute();
        EXPECT_EQ(seen, c.handler >= 0 ? Events{"check 0"}
                        : c.copies     ? Events{}
                                       : Events{"no newer C:\\src\\a.txt"});
        EXPECT_EQ(fake.Exists(kTarget), c.copies);
        EXPECT_EQ(item.Done, c.copies);
        EXPECT_EQ(item.NoNewerFile, c.handler < 0 && !c.copies);
        EXPECT_EQ(item.FoundFileDate, c.found);
    }
}

TEST_F(FileCopyRun, OverwriteUniqueNamesAndProgress) {
    const struct {
        const char* name;
        bool handler, allow, unique;
        const char* written;
    } cases[] = {{"no handler overwrites", false, true, false, kTarget},
                 {"refused", true, false, false, nullptr},
                 {"unique name", true, true, true, "C:\\dl\\a(2).txt"}};
    fake.WriteFile(kSource, Body(40000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.Remove("C:\\dl");
        fake.WriteFile(kTarget, "old");
        fake.WriteFile("C:\\dl\\a(1).txt", "one");
        wc->Items.Clear();
        AddCopy();
        wc->CreateUniqueFilenames = c.unique;
        Events asked;
        wc->OnCopyOverWrite = nullptr;
        if (c.handler)
            wc->OnCopyOverWrite = [&](TObject*, const std::string& f, bool& ok) {
                asked.push_back(f);
                ok = c.allow;
            };
        std::vector<uint32_t> sizes;
        wc->OnCopyProgress = [&](TObject*, int idx, uint32_t size, uint32_t total) {
            EXPECT_EQ(idx, 1);
            EXPECT_EQ(total, 40000u);
            sizes.push_back(size);
        };
        wc->Execute();
        EXPECT_EQ(asked, c.handler ? Events{kTarget} : Events{});
        if (c.written) {
            EXPECT_EQ(fake.ReadFile(c.written), Body(40000));
        }
        EXPECT_EQ(fake.ReadFile(kTarget), c.written == kTarget ? Body(40000) : "old");
        EXPECT_EQ(fake.ReadFile("C:\\dl\\a(1).txt"), "one");
        const std::vector<uint32_t> whole{40000, 40000};
        EXPECT_EQ(sizes, c.written ? whole : std::vector<uint32_t>());
        EXPECT_EQ(wc->Items[0].Done, c.written != nullptr);
    }
}

TEST_F(FileCopyRun, CancelKeepsTheOldTarget) {
    fake.WriteFile(kSource, Body(3 << 20));
    fake.WriteFile(kTarget, "old");
    AddCopy();
    wc->OnCopyProgress = [this](TObject*, int, uint32_t size, uint32_t) {
        if (size == 1u << 20) headless::Post([this] { Dialog()->CancelButton->Click(); });
    };
    wc->Execute();
    EXPECT_EQ(fake.ReadFile(kTarget), "old");
    EXPECT_FALSE(wc->Items[0].Done);
    ExpectTargetFolder({"a.txt"});
}

// What the view is given, in order.
class RecordingView : public webcopy::ProgressView {
public:
    explicit RecordingView(Events& log) : log_(log) {}
    void SetCaption(const std::string& text) override { log_.push_back("caption " + text); }
    void SetLine(webcopy::Line line, const std::string& text) override {
        log_.push_back(line == webcopy::Line::File || line == webcopy::Line::Progress
                           ? text
                           : "line " + std::to_string(static_cast<int>(line)));
    }
    void SetBar(int percent) override { log_.push_back("bar " + std::to_string(percent)); }
    void SetClip(webcopy::Clip clip) override { log_.push_back("clip " + std::to_string(static_cast<int>(clip))); }
    bool CancelRequested() const override { return false; }
    void ClearCancel() override {}
    void KeepOpen(bool, const std::string&, const std::string&) override {}

private:
    Events& log_;
};

TEST_F(FileCopyRun, EmptyFileInTheCopysProgressOrder) {
    fake.WriteFile(kSource, "");
    wc->ShowCompletion = true;
    Events log;
    RecordingView view(log);
    webcopy::Run run(*wc, view);
    run.CurrentFileNumber = 1;
    wc->OnCopyProgress = [&](TObject*, int idx, uint32_t size, uint32_t total) {
        log.push_back("OnCopyProgress " + std::to_string(idx) + " " + std::to_string(size) + " " +
                      std::to_string(total));
    };
    webcopy::Job job(0, AddCopy());
    EXPECT_TRUE(webcopy::FileCopy(run, job));
    EXPECT_EQ(fake.ReadFile(kTarget), "");
    EXPECT_EQ(log, (Events{"clip 2", "File : a.txt from C:\\src", "OnCopyProgress 1 0 0", "bar 100",
                           "Progress : 0 bytes of 0 bytes", "line 2", "caption Copying : 100% completed",
                           "line 3", "line 4"}));
}

}  // namespace
