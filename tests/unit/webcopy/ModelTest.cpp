#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Exceptions.h"
#include "webcopy/Run.h"
#include "webcopy/WebCopy.h"

namespace {

TEST(WebCopyItems, NewItemHasTheJobDefaults) {
    TWebCopy wc(nullptr);
    TWebCopyItem* item = wc.Items.Add();
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Active);
    EXPECT_EQ(item->FTPPort, 21);
    EXPECT_EQ(item->Authenticate, waNever);
    EXPECT_EQ(item->Protocol, wpHttp);
    EXPECT_EQ(item->HTTPCommand, hcPost);
    EXPECT_FALSE(item->Done);
    EXPECT_FALSE(item->CopyNewerOnly);
    EXPECT_EQ(item->FileDate, 0.0);
    EXPECT_TRUE(item->URL.empty());
    EXPECT_EQ(item->FileList, nullptr);
    EXPECT_EQ(item->FileDetails, nullptr);
}

TEST(WebCopyItems, AddAppendsAndIndexIsZeroBased) {
    TWebCopy wc(nullptr);
    EXPECT_EQ(wc.Items.Owner(), &wc);
    for (const char* url : {"a", "b", "c"}) wc.Items.Add()->URL = url;
    ASSERT_EQ(wc.Items.Count(), 3);
    EXPECT_EQ(wc.Items[0].URL, "a");
    EXPECT_EQ(wc.Items.Items(2).URL, "c");

    wc.Items.Delete(0);
    ASSERT_EQ(wc.Items.Count(), 2);
    EXPECT_EQ(wc.Items[0].URL, "b");

    wc.Items.Clear();
    EXPECT_EQ(wc.Items.Count(), 0);
    EXPECT_EQ(wc.Items.ActiveCount(), 0);
}

TEST(WebCopyItems, IndexOutOfRangeRaisesListError) {
    TWebCopy wc(nullptr);
    wc.Items.Add();
    wc.Items.Add();
    for (int bad : {-1, 2, 100}) {
        try {
            wc.Items[bad];
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
        EXPECT_THROW(wc.Items.Delete(bad), EListError) << bad;
    }
    EXPECT_EQ(wc.Items.Count(), 2);
}

TEST(WebCopyItems, ActiveCountCountsOnlyActiveItems) {
    TWebCopy wc(nullptr);
    for (bool active : {true, false, true, false, false}) wc.Items.Add()->Active = active;
    EXPECT_EQ(wc.Items.ActiveCount(), 2);
    wc.Items[1].Active = true;
    EXPECT_EQ(wc.Items.ActiveCount(), 3);
}

TEST(FileDetailItems, AddReturnsTheNewEntryAndIndexIsChecked) {
    TFileDetailItems details;
    TFileDetailItem* first = details.Add();
    first->FileName = "a.txt";
    first->SizeLow = 42;
    details.Add()->FileName = "b.txt";
    ASSERT_EQ(details.Count(), 2);
    EXPECT_EQ(&details[0], first);
    EXPECT_EQ(details[1].FileName, "b.txt");
    EXPECT_EQ(details[1].SizeLow, 0u);
    EXPECT_THROW(details[2], EListError);
    EXPECT_THROW(details[-1], EListError);
    details.Clear();
    EXPECT_EQ(details.Count(), 0);
}

TEST(WebCopy, VersionIsFixedAndIgnoresWrites) {
    TWebCopy wc(nullptr);
    EXPECT_EQ(wc.Version(), "2.1.0.0");
    wc.SetVersion("9.9.9.9");
    EXPECT_EQ(wc.Version(), "2.1.0.0");
    wc.SetVersion("2.1.0.0");
    EXPECT_EQ(wc.Version(), "2.1.0.0");
}

TEST(WebCopy, OwnerDestroysTheComponent) {
    auto* owner = new TComponent(nullptr);
    auto* wc = new TWebCopy(owner);
    wc->Items.Add()->FileList = std::make_unique<TStringList>();
    EXPECT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(owner->Components(0), wc);
    delete owner;  // frees wc with its items; the sanitizer reports any leak
}

// Records the events a report raises, in order.
struct ReportLog {
    std::vector<std::string> events;
    int textBuilt = 0;
};

void Report(TWebCopy& wc, ReportLog& log, int code) {
    webcopy::HiddenView view;
    webcopy::Run(wc, view).ReportError(code, [&log, code] {
        ++log.textBuilt;
        return "Returned http error code " + std::to_string(code);
    });
}

TEST(WebCopy, ReportErrorCallsOnErrorThenOnErrorInfo) {
    TWebCopy wc(nullptr);
    ReportLog log;
    wc.OnError = [&](TObject* sender, int code) {
        EXPECT_EQ(sender, &wc);
        log.events.push_back("error " + std::to_string(code));
    };
    wc.OnErrorInfo = [&](TObject* sender, int code, const std::string& text) {
        EXPECT_EQ(sender, &wc);
        log.events.push_back("info " + std::to_string(code) + " " + text);
    };
    Report(wc, log, 404);
    EXPECT_EQ(log.events, (std::vector<std::string>{
                              "error 404", "info 404 Returned http error code 404"}));
    EXPECT_EQ(log.textBuilt, 1);
}

TEST(WebCopy, ReportErrorWithOneOrNoHandler) {
    TWebCopy wc(nullptr);
    ReportLog log;

    wc.OnErrorInfo = [&](TObject*, int code, const std::string& text) {
        log.events.push_back("info " + std::to_string(code) + " " + text);
    };
    Report(wc, log, 3);
    EXPECT_EQ(log.events, (std::vector<std::string>{"info 3 Returned http error code 3"}));

    // Without OnErrorInfo the text is never built.
    log = {};
    wc.OnErrorInfo = nullptr;
    wc.OnError = [&](TObject*, int code) { log.events.push_back("error " + std::to_string(code)); };
    Report(wc, log, 6);
    EXPECT_EQ(log.events, (std::vector<std::string>{"error 6"}));
    EXPECT_EQ(log.textBuilt, 0);

    log = {};
    wc.OnError = nullptr;
    Report(wc, log, 6);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(log.textBuilt, 0);
}

}  // namespace
