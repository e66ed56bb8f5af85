// The run driver: event order, active items, results, the session, cancel and exceptions.
#include <gtest/gtest.h>

#include "framework/Exceptions.h"
#include "framework/headless/Headless.h"
#include "RunFixture.h"
#include "webcopy/Driver.h"

namespace {

using platform::fake::HttpResponse;
using Events = std::vector<std::string>;

TEST_F(WebCopyRun, InactiveItemsArePassedOverAndActiveOnesCountedFromOne) {
    RecordEvents();
    std::vector<int> numbers;
    wc->OnCopyProgress = [&](TObject*, int fileidx, uint32_t, uint32_t) { numbers.push_back(fileidx); };
    AddHttp("http://srv/a.txt").Active = false;
    AddHttp("http://srv/b.txt");
    AddHttp("http://srv/c.txt");
    Serve("http://srv/b.txt", "bee");
    Serve("http://srv/c.txt", "sea");

    wc->Execute();

    EXPECT_EQ(events, (Events{"BeforeDialogShow", "FileStart 1", "FileDone 1", "FileStart 2",
                              "FileDone 2", "CopyDone"}));
    EXPECT_EQ(numbers, (std::vector<int>{1, 1, 2, 2}));  // a data block and the closing read each
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_TRUE(wc->Items[1].Done);
    EXPECT_TRUE(wc->Items[2].Done);
    EXPECT_EQ(fake.ReadFile("C:\\dl\\c.txt"), "sea");
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(WebCopyRun, SessionOpensWithAgentAndProxyAsGiven) {
    const struct {
        std::string proxy;
        uint32_t access;
    } cases[] = {{"", 0}, {"proxy.example:3128", 3}};
    for (const auto& c : cases) {
        wc->Items.Clear();
        AddHttp("http://srv/a.txt");
        Serve("http://srv/a.txt", "x");
        wc->Agent = "Agent/1";
        wc->Proxy = c.proxy;
        wc->ProxyUserID = "pu";  // acts on the URL only, never on the session
        wc->ProxyPassword = "pp";
        const size_t before = fake.SessionOpens().size();
        wc->Execute();
        ASSERT_EQ(fake.SessionOpens().size(), before + 1) << c.proxy;
        const auto& open = fake.SessionOpens().back();
        EXPECT_EQ(open.agent, "Agent/1");
        EXPECT_EQ(open.accessType, c.access);
        EXPECT_EQ(open.proxy.has_value(), !c.proxy.empty());
        EXPECT_EQ(open.proxy.value_or("(none)"), c.proxy.empty() ? "(none)" : c.proxy);
        EXPECT_FALSE(open.bypass.has_value());
        EXPECT_EQ(open.flags, 0u);
    }
}

TEST_F(WebCopyRun, NoSessionWithoutActiveNetworkItems) {
    RecordEvents();
    TWebCopyItem* copy = wc->Items.Add();
    copy->Protocol = wpFile;
    copy->URL = "C:\\src\\missing.txt";
    copy->TargetDir = "C:\\dl";
    AddHttp("http://srv/a.txt").Active = false;
    wc->Execute();
    EXPECT_TRUE(fake.SessionOpens().empty());
    EXPECT_EQ(events, (Events{"BeforeDialogShow", "FileStart 0", "Error 1",
                              "Info 1 Cannot open source file C:\\src\\missing.txt",
                              "FileDone 0", "CopyDone"}));
    EXPECT_FALSE(wc->Items[0].Done);

    events.clear();
    wc->Items.Clear();
    wc->Execute();  // nothing at all: the dialog comes and goes, OnCopyDone still fires
    EXPECT_EQ(events, (Events{"BeforeDialogShow", "CopyDone"}));
    EXPECT_TRUE(fake.SessionOpens().empty());
    EXPECT_EQ(Dialog(), nullptr);
}

TEST(KeepConnection, NextItemDecides) {
    struct Job {
        TWebCopyProtocol protocol;
        const char *host, *user, *password;
        int port;
        bool active;
    };
    const struct {
        const char* name;
        Job first, second;
        bool keep;
    } cases[] = {
        {"same account", {wpFtp, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "p", 21, true}, true},
        {"upload then download", {wpFtpUpload, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "p", 21, true}, true},
        {"other port", {wpFtp, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "p", 2121, true}, false},
        {"next inactive", {wpFtp, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "p", 21, false}, true},
        {"other password", {wpFtp, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "P", 21, true}, false},
        {"multi-file next", {wpFtp, "h", "u", "p", 21, true}, {wpMultiFtp, "h", "u", "p", 21, true}, false},
        {"not ftp", {wpHttp, "h", "u", "p", 21, true}, {wpFtp, "h", "u", "p", 21, true}, false},
        // Each value counts on its own: "hu" + "p" is not "h" + "up".
        {"joined text", {wpFtp, "hu", "", "p", 21, true}, {wpFtp, "h", "up", "", 21, true}, false},
        {"user and password swapped", {wpFtp, "h", "a", "b", 21, true}, {wpFtp, "h", "b", "a", 21, true}, false},
    };
    for (const auto& c : cases) {
        TWebCopy wc(nullptr);
        for (const Job& j : {c.first, c.second}) {
            TWebCopyItem* item = wc.Items.Add();
            item->Protocol = j.protocol;
            item->FTPHost = j.host;
            item->FTPUserID = j.user;
            item->FTPPassword = j.password;
            item->FTPPort = j.port;
            item->Active = j.active;
        }
        EXPECT_EQ(webcopy::KeepConnectionFor(wc.Items, 0), c.keep) << c.name;
        EXPECT_FALSE(webcopy::KeepConnectionFor(wc.Items, 1)) << c.name << ": the last item has no next";
    }
}

TEST_F(WebCopyRun, CancelDuringSecondOfThreeJobs) {
    RecordEvents();
    AddHttp("http://srv/1.bin");
    AddHttp("http://srv/2.bin");
    TWebCopyItem& third = AddHttp("http://srv/3.bin");
    third.Done = true;  // result of an earlier run: must stay
    Serve("http://srv/1.bin", Body(5000));
    Serve("http://srv/3.bin", Body(5000));
    HttpResponse slow;
    slow.body = Body(40000);
    slow.onRead = [this](uint64_t delivered) {
        if (delivered == 8192) headless::Post([this] { Dialog()->CancelButton->Click(); });
    };
    fake.SetHttp("http://srv/2.bin", slow);

    wc->Execute();

    EXPECT_EQ(events, (Events{"BeforeDialogShow", "FileStart 0", "FileDone 0", "FileStart 1",
                              "CopyCancel", "CopyDone"}));
    EXPECT_TRUE(wc->Items[0].Done);
    EXPECT_FALSE(wc->Items[1].Done);  // its operation had data, yet the run was cancelled
    EXPECT_TRUE(third.Done);
    EXPECT_EQ(fake.HttpRequests().size(), 2u);
    EXPECT_FALSE(fake.Exists("C:\\dl\\2.bin"));
    EXPECT_EQ(Dialog(), nullptr);
}

TEST_F(WebCopyRun, ExceptionInAnOperationEndsTheRunCleanly) {
    RecordEvents();
    AddHttp("http://srv/a.bin");
    AddHttp("http://srv/b.bin");
    fake.WriteFile("C:\\dl\\a.bin", "old");
    Serve("http://srv/a.bin", Body(20000));
    Serve("http://srv/b.bin", "b");
    // A client's handler that raises in the middle of a body.
    wc->OnCopyProgress = [](TObject*, int, uint32_t done, uint32_t) {
        if (done >= 8192) throw EConvertError("handler failed");
    };

    wc->Execute();  // returns normally

    EXPECT_EQ(events, (Events{"BeforeDialogShow", "FileStart 0", "OverWrite C:\\dl\\a.bin"}));
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    EXPECT_EQ(fake.HttpRequests().size(), 1u);
    EXPECT_FALSE(wc->Items[0].Done);
    EXPECT_EQ(fake.ListFolder("C:\\dl"), (std::vector<std::string>{"a.bin"}));
    EXPECT_EQ(fake.ReadFile("C:\\dl\\a.bin"), "old");
    EXPECT_TRUE(headless::MessageBoxCalls().empty()) << "the error must not reach the user";
}

// A kept FTP connection goes before its session, whatever ends the run: closing the session
// first would close the connection with it and leave a stale handle to close.
TEST_F(WebCopyRun, KeptConnectionClosesBeforeItsSession) {
    {
        webcopy::HiddenView view;
        webcopy::Run run(*wc, view);
        run.Session = fake.InternetOpen("WebCopy", 0, nullptr, nullptr, 0);
        fake.AddFtpServer("ftp.example");
        run.CachedFtpConnection = fake.InternetConnect(run.Session.get(), "ftp.example", 21, nullptr,
                                                       nullptr, platform::INTERNET_SERVICE_FTP, 0, 0);
        ASSERT_TRUE(run.CachedFtpConnection);
        EXPECT_EQ(fake.OpenHandleCount(), 2);
    }
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    EXPECT_EQ(fake.InvalidHandleUses(), 0);
}

TEST_F(WebCopyRun, HiddenDialogRunStillReportsAndUpdates) {
    RecordEvents();
    wc->ShowDialog = false;
    AddHttp("http://srv/a.bin");
    AddHttp("http://srv/missing.bin");
    Serve("http://srv/a.bin", Body(5000));
    std::vector<std::string> seen;
    wc->OnBeforeDialogShow = [&](TObject*, TForm*) { ADD_FAILURE() << "no dialog to show"; };
    wc->OnCopyProgress = [&](TObject*, int i, uint32_t done, uint32_t total) {
        EXPECT_EQ(Dialog(), nullptr);
        seen.push_back(std::to_string(i) + " " + std::to_string(done) + " " + std::to_string(total));
    };
    wc->Execute();
    EXPECT_EQ(events, (Events{"FileStart 0", "FileDone 0", "FileStart 1",
                              "NotFound http://srv/missing.bin", "FileDone 1", "CopyDone"}));
    EXPECT_EQ(seen, (Events{"1 4096 5000", "1 5000 5000", "1 5000 5000"}));
    EXPECT_EQ(wc->ComponentCount(), 0);
}

TEST_F(WebCopyRun, CaptionFollowsTheJobKind) {
    wc->DlgCaption = "Cap";
    wc->DlgDwnload = "Down";
    wc->DlgCopying = "Copy";
    wc->DlgUpload = "Up";
    const std::pair<TWebCopyProtocol, const char*> kinds[] = {
        {wpFtpList, "Cap ..."}, {wpFile, "Copy ..."}, {wpMultiFtp, "Copy ..."},
        {wpHttpUpload, "Up ..."}, {wpFtpDelete, "Up ..."}, {wpFtp, "Down ..."},
        {wpFtpUpload, "Up ..."}, {wpMultiFtpUpload, "Up ..."}, {wpHttp, "Down ..."}};
    std::vector<std::string> captions;
    for (const auto& k : kinds) wc->Items.Add()->Protocol = k.first;
    wc->OnFileDone = [&](TObject*, int) { captions.push_back(Dialog()->Caption()); };
    wc->Execute();
    ASSERT_EQ(captions.size(), std::size(kinds));
    for (size_t i = 0; i < captions.size(); ++i) EXPECT_EQ(captions[i], kinds[i].second) << i;
}

// One run at a time: a second Execute from an event handler returns false and touches
// nothing; the Close button of a dialog an earlier run kept open cancels nothing.
TEST_F(WebCopyRun, OneRunAtATime) {
    wc->ShowOpenFolder = true;
    AddHttp("http://srv/a.bin");
    Serve("http://srv/a.bin", "a");
    wc->Execute();
    webcopy::TWcProgressDialog* kept = Dialog();
    ASSERT_NE(kept, nullptr);

    wc->Items.Clear();
    AddHttp("http://srv/b.bin");
    Serve("http://srv/b.bin", Body(20000));
    bool nested = true;
    int cancels = 0;
    wc->OnCopyCancel = [&](TObject*) { ++cancels; };
    wc->OnFileStart = [&](TObject*, int) {
        nested = wc->Execute();
        kept->CancelButton->Click();  // "Close" of the earlier run's dialog
    };
    const size_t sessions = fake.SessionOpens().size();
    EXPECT_TRUE(wc->Execute());
    EXPECT_FALSE(nested);
    EXPECT_EQ(fake.SessionOpens().size(), sessions + 1);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(kept->Visible());
    EXPECT_TRUE(wc->Items[0].Done) << "the run in progress goes on";
    EXPECT_EQ(fake.ReadFile("C:\\dl\\b.bin"), Body(20000));
}

}  // namespace
