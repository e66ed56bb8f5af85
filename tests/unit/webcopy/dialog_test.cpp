// The progress dialog: layout, file line, per-block update, buttons and the kept-open end.
#include <gtest/gtest.h>

#include "framework/headless/Headless.h"
#include "run_fixture.h"

namespace {

constexpr int kCaption = 18;  // the headless caption height

TEST_F(WebCopyRun, DialogGeometry) {
    const struct {
        bool time, elapsed, cancel, fileName, openFile, openFolder;
        int height, buttonTop, progressTop, openFileLeft;
    } cases[] = {
        // time  elapsed cancel name  file   folder  height            row  B+20  file-left
        {false, false, true, true, false, false, kCaption + 188, 140, 100, 0},
        {true, false, true, true, false, false, kCaption + 208, 160, 100, 0},
        {false, true, true, true, true, false, kCaption + 208, 160, 100, 130},
        {true, true, false, true, true, true, kCaption + 208, 180, 100, 45},
        {false, false, true, false, false, true, kCaption + 188, 120, 80, 0},
        {true, true, true, false, true, true, kCaption + 228, 160, 80, 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "time " << c.time << " elapsed " << c.elapsed
                                        << " cancel " << c.cancel << " name " << c.fileName);
        wc->ShowTime = c.time;
        wc->ShowElapsedTime = c.elapsed;
        wc->DlgShowCancel = c.cancel;
        wc->ShowFileName = c.fileName;
        wc->ShowOpenFile = c.openFile;
        wc->ShowOpenFolder = c.openFolder;
        wc->BuildProgressDialog();
        TForm& d = *wc->ProgressDialog;

        EXPECT_EQ(d.Width(), 300);
        EXPECT_EQ(d.Height(), c.height);
        EXPECT_EQ(d.Left(), (1024 - 300) / 2);
        EXPECT_EQ(d.Top(), (768 - c.height) / 2);
        EXPECT_EQ(d.BorderStyle, bsDialog);
        EXPECT_EQ(d.Caption(), "Downloading ...");
        EXPECT_TRUE(d.Visible());

        const int base = c.progressTop - 20;
        EXPECT_EQ(wc->FileLine->Top(), 80);
        EXPECT_EQ(wc->FileLine->Left(), 10);
        EXPECT_EQ(wc->FileLine->Width(), 280);
        EXPECT_FALSE(wc->FileLine->AutoSize);
        EXPECT_EQ(wc->FileLine->Visible(), c.fileName);
        EXPECT_EQ(wc->ProgressLine->Top(), base + 20);
        EXPECT_EQ(wc->RateLine->Top(), base + 40);
        EXPECT_EQ(wc->TimeLeftLine->Top(), base + 60);
        EXPECT_EQ(wc->TimeLeftLine->Visible(), c.time);
        EXPECT_EQ(wc->ElapsedLine->Top(), base + 80);  // also when the time-left line is hidden
        EXPECT_EQ(wc->ElapsedLine->Visible(), c.elapsed);

        EXPECT_EQ(wc->CancelButton->Left(), 215);
        EXPECT_EQ(wc->CancelButton->Top(), c.buttonTop);
        EXPECT_EQ(wc->CancelButton->Width(), 75);
        EXPECT_EQ(wc->CancelButton->Visible(), c.cancel);
        EXPECT_EQ(wc->OpenFolderButton != nullptr, c.openFolder);
        if (wc->OpenFolderButton) {
            EXPECT_EQ(wc->OpenFolderButton->Left(), 130);
            EXPECT_EQ(wc->OpenFolderButton->Top(), c.buttonTop);
            EXPECT_FALSE(wc->OpenFolderButton->Enabled());
        }
        EXPECT_EQ(wc->OpenFileButton != nullptr, c.openFile);
        if (wc->OpenFileButton) {
            EXPECT_EQ(wc->OpenFileButton->Left(), c.openFileLeft);
            EXPECT_FALSE(wc->OpenFileButton->Enabled());
        }

        EXPECT_EQ(wc->Animation->Left(), 10);
        EXPECT_EQ(wc->Animation->Top(), 0);
        EXPECT_EQ(wc->Animation->Width(), 272);
        EXPECT_EQ(wc->Animation->ResId(), 257);
        EXPECT_TRUE(wc->Animation->Active());
        EXPECT_EQ(wc->ProgressBar->Left(), 10);
        EXPECT_EQ(wc->ProgressBar->Top(), 60);
        EXPECT_EQ(wc->ProgressBar->Width(), 280);
        EXPECT_EQ(wc->ProgressBar->Height(), 12);
        EXPECT_EQ(wc->ProgressBar->Position(), 0);
        wc->DestroyProgressDialog();
    }
}

TEST_F(WebCopyRun, DialogStyleOptions) {
    const struct {
        bool onTop, alwaysOnTop, closeBtn, show;
    } cases[] = {{true, false, false, true}, {false, true, true, true}, {true, true, false, false}};
    for (const auto& c : cases) {
        int beforeShow = 0;
        wc->OnBeforeDialogShow = [&](TObject*, TForm* d) {
            ++beforeShow;
            EXPECT_FALSE(d->Visible());
        };
        wc->ShowDialogOnTop = c.onTop;
        wc->AlwaysOnTop = c.alwaysOnTop;
        wc->DlgShowCloseBtn = c.closeBtn;
        wc->ShowDialog = c.show;
        wc->Cancelled = true;
        wc->BuildProgressDialog();
        TForm& d = *wc->ProgressDialog;
        EXPECT_EQ(d.FormStyle, c.onTop ? fsStayOnTop : fsNormal);
        EXPECT_EQ(d.BorderIcons == 0, !c.closeBtn);
        EXPECT_EQ(d.Visible(), c.show);
        EXPECT_EQ(beforeShow, c.show ? 1 : 0);
        EXPECT_EQ(headless::IsTopmost(d), c.show && c.alwaysOnTop);
        EXPECT_FALSE(wc->Cancelled);
        EXPECT_FALSE(wc->RunFinished);
        wc->DestroyProgressDialog();
    }
}

TEST_F(WebCopyRun, FileLinePrefix) {
    const struct {
        int items, active, current;
        bool server;
        const char* line;
    } cases[] = {
        {1, 1, 1, true, "File : a.txt from srv"},
        {0, 0, 0, false, "File : a.txt"},
        {2, 1, 1, true, "File : 1 of 1 : a.txt from srv"},
        {3, 3, 2, false, "File : 2 of 3 : a.txt"},
    };
    wc->ShowFileName = false;  // written even while hidden
    wc->BuildProgressDialog();
    for (const auto& c : cases) {
        wc->Items.Clear();
        for (int i = 0; i < c.items; ++i) wc->Items.Add()->Active = i < c.active;
        wc->CurrentFileNumber = c.current;
        wc->SetFileLine("a.txt", "from", "srv", c.server);
        EXPECT_EQ(wc->FileLine->Caption(), c.line);
    }
    wc->DlgFileLabel = "Fil:";
    wc->DlgFileOfLabel = "av";
    wc->SetFileLine("b", "till", "host:21", true);
    EXPECT_EQ(wc->FileLine->Caption(), "Fil: 2 av 3 : b till host:21");
}

TEST_F(WebCopyRun, UpdateProgressTexts) {
    const struct {
        uint32_t done, total, elapsedMs;
        int bar;
        const char *progress, *rate, *left, *elapsed;
    } cases[] = {
        {2500, 10000, 999, 25, "Progress : 2.50 Kb of 10.00 Kb", "Transfer rate : 2.50 Kb/sec",
         "Estimated time left : 3 sec.", "Elapsed time : 1 sec."},
        {1, 8, 0, 12, "Progress : 1 bytes of 8 bytes", "Transfer rate : 1.00 Kb/sec",
         "Estimated time left : 0 sec.", "Elapsed time : 0 sec."},
        {3, 8, 0, 38, "Progress : 3 bytes of 8 bytes", "Transfer rate : 3.00 Kb/sec",
         "Estimated time left : 0 sec.", "Elapsed time : 0 sec."},
        {300, 100, 9999, 100, "Progress : 300 bytes of 100 bytes", "Transfer rate : 30 bytes/sec",
         "Estimated time left : -", "Elapsed time : 10 sec."},
        {5000000, 0, 99999, 40, "Progress : 5.00 Mb", "Transfer rate : 50.00 Kb/sec",
         "Estimated time left : -", "Elapsed time : 2 minutes"},
    };
    wc->ShowCompletion = true;
    wc->DlgCompleted = "klart";
    wc->CurrentFileNumber = 3;
    wc->BuildProgressDialog();
    fake.SetTickStep(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress);
        wc->ProgressBar->SetPosition(40);  // what an earlier file left
        std::vector<std::string> progress;
        wc->OnCopyProgress = [&](TObject* s, int idx, uint32_t done, uint32_t total) {
            EXPECT_EQ(s, wc.get());
            progress.push_back(std::to_string(idx) + " " + std::to_string(done) + " " +
                               std::to_string(total));
        };
        fake.SetTicks(100000 + c.elapsedMs);
        wc->UpdateProgress(c.done, c.total, "Up", 100000);
        EXPECT_EQ(wc->ProgressBar->Position(), c.bar);
        EXPECT_EQ(wc->ProgressLine->Caption(), c.progress);
        EXPECT_EQ(wc->RateLine->Caption(), c.rate);
        EXPECT_EQ(wc->TimeLeftLine->Caption(), c.left);
        EXPECT_EQ(wc->ElapsedLine->Caption(), c.elapsed);
        EXPECT_EQ(wc->ProgressDialog->Caption(), "Up : " + std::to_string(c.bar) + "% klart");
        EXPECT_EQ(progress, (std::vector<std::string>{"3 " + std::to_string(c.done) + " " +
                                                      std::to_string(c.total)}));
    }
}

TEST_F(WebCopyRun, UpdateProgressYieldsToTheUserAndKeepsTheCaptionWithoutCompletion) {
    wc->BuildProgressDialog();
    bool ran = false;
    headless::Post([&] { ran = true; });
    wc->UpdateProgress(10, 100, "Up", 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(wc->ProgressDialog->Caption(), "Downloading ...");
}

TEST_F(WebCopyRun, CancelAndCloseRules) {
    for (bool closeBtn : {false, true}) {
        int cancels = 0;
        wc->OnCopyCancel = [&](TObject*) { ++cancels; };
        wc->DlgShowCloseBtn = closeBtn;
        wc->BuildProgressDialog();
        wc->CancelButton->Click();
        EXPECT_EQ(cancels, 1);
        EXPECT_TRUE(wc->Cancelled);
        EXPECT_EQ(wc->ProgressDialog->Visible(), !closeBtn) << "close allowed only with the close box";
        wc->Cancelled = false;
        wc->ProgressDialog->Close();  // the title bar's close box: hides, never cancels
        EXPECT_FALSE(wc->Cancelled);
        wc->DestroyProgressDialog();
    }
}

TEST_F(WebCopyRun, KeptDialogAfterANormalRun) {
    wc->ShowOpenFile = true;
    wc->ShowOpenFolder = true;
    AddHttp("http://srv/a.txt");
    Serve("http://srv/a.txt", "data");
    std::string buttonAtCopyDone;
    wc->OnCopyDone = [&](TObject*) { buttonAtCopyDone = wc->CancelButton->Caption(); };

    wc->Execute();

    EXPECT_EQ(buttonAtCopyDone, "Cancel");  // OnCopyDone comes before the Close text
    ASSERT_NE(wc->ProgressDialog, nullptr);
    TForm* dialog = wc->ProgressDialog;
    EXPECT_TRUE(dialog->Visible());
    EXPECT_EQ(wc->CancelButton->Caption(), "Close");
    EXPECT_TRUE(wc->RunFinished);
    EXPECT_FALSE(wc->Animation->Active());
    EXPECT_TRUE(wc->OpenFileButton->Enabled());
    EXPECT_TRUE(wc->OpenFolderButton->Enabled());

    // The click arrives as a message; the dialog goes once that message has been handled.
    headless::Post([this] {
        wc->OpenFolderButton->Click();
        EXPECT_EQ(wc->ComponentCount(), 1);
    });
    Application->ProcessMessages();
    EXPECT_EQ(fake.ShellOpenCalls(), (std::vector<std::string>{"C:\\dl"}));
    EXPECT_EQ(wc->ProgressDialog, nullptr);
    EXPECT_EQ(wc->ComponentCount(), 0);
}

TEST_F(WebCopyRun, KeptDialogAfterACancelledRun) {
    wc->ShowOpenFolder = true;
    AddHttp("http://srv/a.bin");
    platform::fake::HttpResponse r;
    r.body = Body(20000);
    r.onRead = [this](uint64_t delivered) {
        if (delivered == 4096) headless::Post([this] { wc->CancelButton->Click(); });
    };
    fake.SetHttp("http://srv/a.bin", r);
    int cancels = 0;
    wc->OnCopyCancel = [&](TObject*) { ++cancels; };

    wc->Execute();

    ASSERT_NE(wc->ProgressDialog, nullptr);
    EXPECT_TRUE(wc->ProgressDialog->Visible());
    EXPECT_FALSE(wc->OpenFolderButton->Enabled());
    wc->CancelButton->Click();  // now "Close": same handler, and closing is allowed
    EXPECT_EQ(cancels, 2);
    EXPECT_FALSE(wc->ProgressDialog->Visible());
    EXPECT_NE(wc->ProgressDialog, nullptr);  // hidden, still owned

    // The next run builds a new dialog and leaves the hidden one alone.
    TForm* old = wc->ProgressDialog;
    wc->Execute();
    EXPECT_NE(wc->ProgressDialog, old);
    EXPECT_EQ(wc->ComponentCount(), 2);
}

}  // namespace
