#pragma once
// A TWebCopy on the headless framework and the fake platform, with every event recorded as
// one text in order, for the run driver, dialog, download and login tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "doubles/FakePlatform.h"
#include "framework/Application.h"
#include "framework/headless/Headless.h"
#include "webcopy/ProgressDialog.h"
#include "webcopy/Run.h"
#include "webcopy/WebCopy.h"

class WebCopyRun : public ::testing::Test {
protected:
    void SetUp() override {
        headless::Reset();
        Application = new TApplication;
        Application->Initialize();
        fake.MakeDirectory("C:\\dl");
        wc = std::make_unique<TWebCopy>(nullptr);
    }

    void TearDown() override {
        wc.reset();
        delete Application;
        Application = nullptr;
        headless::Reset();
        EXPECT_EQ(fake.OpenHandleCount(), 0) << "a network handle was left open";
        EXPECT_EQ(fake.OpenFileCount(), 0) << "a file was left open";
    }

    // Records the events, one text each: "FileStart 1", "Error 404", "Info 404 text", ...
    void RecordEvents() {
        wc->OnBeforeDialogShow = [this](TObject*, TForm*) { events.push_back("BeforeDialogShow"); };
        wc->OnFileStart = [this](TObject*, int i) { events.push_back("FileStart " + std::to_string(i)); };
        wc->OnFileDone = [this](TObject*, int i) { events.push_back("FileDone " + std::to_string(i)); };
        wc->OnCopyDone = [this](TObject*) { events.push_back("CopyDone"); };
        wc->OnCopyCancel = [this](TObject*) { events.push_back("CopyCancel"); };
        wc->OnError = [this](TObject*, int c) { events.push_back("Error " + std::to_string(c)); };
        wc->OnErrorInfo = [this](TObject*, int c, const std::string& t) {
            events.push_back("Info " + std::to_string(c) + " " + t);
        };
        wc->OnURLNotFound = [this](TObject*, const std::string& u) { events.push_back("NotFound " + u); };
        wc->OnNoNewFileFound = [this](TObject*, const std::string& f, TDateTime, TDateTime) {
            events.push_back("NoNewFile " + f);
        };
        wc->OnCopyOverWrite = [this](TObject*, const std::string& f, bool&) {
            events.push_back("OverWrite " + f);
        };
    }

    // The newest progress dialog the component owns; nullptr when there is none.
    webcopy::TWcProgressDialog* Dialog() const {
        for (int i = wc->ComponentCount() - 1; i >= 0; --i)
            if (auto* d = dynamic_cast<webcopy::TWcProgressDialog*>(wc->Components(i))) return d;
        return nullptr;
    }
    // Clicks Open file (or Open folder) of the dialog a run kept open and gives what the
    // shell was asked to open; needs ShowOpenFile and ShowOpenFolder.
    std::string ClickOpen(bool file) {
        webcopy::TWcProgressDialog* dialog = Dialog();
        if (!dialog) return "(no dialog)";
        (file ? dialog->OpenFileButton : dialog->OpenFolderButton)->Click();
        Application->ProcessMessages();  // the dialog goes once the click has been handled
        return fake.ShellOpenCalls().empty() ? "(nothing)" : fake.ShellOpenCalls().back();
    }
    webcopy::TWcProgressDialog* BuildDialog() { return new webcopy::TWcProgressDialog(*wc); }

    TWebCopyItem& AddHttp(const std::string& url, const std::string& name = "") {
        TWebCopyItem* item = wc->Items.Add();
        item->URL = url;
        item->TargetDir = "C:\\dl";
        item->TargetFilename = name;
        return *item;
    }

    // Serves `body` with the given status at `url`.
    void Serve(const std::string& url, const std::string& body, uint32_t status = 200) {
        platform::fake::HttpResponse r;
        r.status = status;
        r.body = body;
        fake.SetHttp(url, r);
    }

    std::vector<std::string> events;
    platform::fake::ScopedFakePlatform fake;
    std::unique_ptr<TWebCopy> wc;
};

// A body of n bytes that differ from block to block.
inline std::string Body(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i / 1000) % 26);
    return s;
}
