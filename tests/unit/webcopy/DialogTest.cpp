// The progress dialog: layout, file line, per-block update, buttons and the kept-open end.
#include <gtest/gtest.h>

#include "framework/headless/Headless.h"
#include "RunFixture.h"

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
        BuildDialog();
        TForm& d = *Dialog();

        EXPECT_EQ(d.Width(), 300);
        EXPECT_EQ(d.Height(), c.height);
        EXPECT_EQ(d.Left(), (1024 - 300) / 2);
        EXPECT_EQ(d.Top(), (768 - c.height) / 2);
        EXPECT_EQ(d.BorderStyle, bsDialog);
        EXPECT_EQ(d.Caption(), "Downloading ...");
        EXPECT_TRUE(d.Visible());

        const int base = c.progressTop - 20;
        EXPECT_EQ(Dialog()->FileLine->Top(), 80);
        EXPECT_EQ(Dialog()->FileLine->Left(), 10);
        EXPECT_EQ(Dialog()->FileLine->Width(), 280);
        EXPECT_FALSE(Dialog()->FileLine->AutoSize);
        EXPECT_EQ(Dialog()->FileLine->Visible(), c.fileName);
        EXPECT_EQ(Dialog()->ProgressLine->Top(), base + 20);
        EXPECT_EQ(Dialog()->RateLine->Top(), base + 40);
        EXPECT_EQ(Dialog()->TimeLeftLine->Top(), base + 60);
        EXPECT_EQ(Dialog()->TimeLeftLine->Visible(), c.time);
        EXPECT_EQ(Dialog()->ElapsedLine->Top(), base + 80);  // also when the time-left line is hidden
        EXPECT_EQ(Dialog()->ElapsedLine->Visible(), c.elapsed);

        EXPECT_EQ(Dialog()->CancelButton->Left(), 215);
        EXPECT_EQ(Dialog()->CancelButton->Top(), c.buttonTop);
        EXPECT_EQ(Dialog()->CancelButton->Width(), 75);
        EXPECT_EQ(Dialog()->CancelButton->Visible(), c.cancel);
        EXPECT_EQ(Dialog()->OpenFolderButton != nullptr, c.openFolder);
        if (Dialog()->OpenFolderButton) {
            EXPECT_EQ(Dialog()->OpenFolderButton->Left(), 130);
            EXPECT_EQ(Dialog()->OpenFolderButton->Top(), c.buttonTop);
            EXPECT_FALSE(Dialog()->OpenFolderButton->Enabled());
        }
        EXPECT_EQ(Dialog()->OpenFileButton != nullptr, c.openFile);
        if (Dialog()->OpenFileButton) {
            EXPECT_EQ(Dialog()->OpenFileButton->Left(), c.openFileLeft);
            EXPECT_FALSE(Dialog()->OpenFileButton->Enabled());
        }

        EXPECT_EQ(Dialog()->Animation->Left(), 10);
        EXPECT_EQ(Dialog()->Animation->Top(), 0);
        EXPECT_EQ(Dialog()->Animation->Width(), 272);
        EXPECT_EQ(Dialog()->Animation->ResId(), 257);
        EXPECT_TRUE(Dialog()->Animation->Active());
        EXPECT_EQ(Dialog()->ProgressBar->Left(), 10);
        EXPECT_EQ(Dialog()->ProgressBar->Top(), 60);
        EXPECT_EQ(Dialog()->ProgressBar->Width(), 280);
        EXPECT_EQ(Dialog()->ProgressBar->Height(), 12);
        EXPECT_EQ(Dialog()->ProgressBar->Position(), 0);
        delete Dialog();
    }
}

TEST_F(WebCopyRun, DialogStyleOptions) {
    const struct {
        bool onTop, alwaysOnTop, closeBtn;
    } cases[] = {{true, false, false}, {false, true, true}};
    for (const auto& c : cases) {
        int beforeShow = 0;
        wc->OnBeforeDialogShow = [&](TObject*, TForm* d) {
            ++beforeShow;
            EXPECT_FALSE(d->Visible());
        };
        wc->ShowDialogOnTop = c.onTop;
        wc->AlwaysOnTop = c.alwaysOnTop;
        wc->DlgShowCloseBtn = c.closeBtn;
        BuildDialog();
        TForm& d = *Dialog();
        EXPECT_EQ(d.FormStyle, c.onTop ? fsStayOnTop : fsNormal);
        EXPECT_EQ(d.BorderIcons == 0, !c.closeBtn);
        EXPECT_TRUE(d.Visible());
        EXPECT_EQ(beforeShow, 1);
        EXPECT_EQ(headless::IsTopmost(d), c.alwaysOnTop);
        EXPECT_FALSE(Dialog()->CancelRequested());
        EXPECT_FALSE(Dialog()->RunFinished());
        delete Dialog();
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
    webcopy::Run run(*wc, *BuildDialog());
    for (const auto& c : cases) {
        wc->Items.Clear();
        for (int i = 0; i < c.items; ++i) wc->Items.Add()->Active = i < c.active;
        run.CurrentFileNumber = c.current;
        run.SetFileLine("a.txt", "from", "srv", c.server);
        EXPECT_EQ(Dialog()->FileLine->Caption(), c.line);
    }
    wc->DlgFileLabel = "Fil:";
    wc->DlgFileOfLabel = "av";
    run.SetFileLine("b", "till", "host:21", true);
    EXPECT_EQ(Dialog()->FileLine->Caption(), "Fil: 2 av 3 : b till host:21");
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
        {5000000, 0, 99999, 100, "Progress : 5.00 Mb", "Transfer rate : 50.00 Kb/sec",
         "Estimated time left : -", "Elapsed time : 2 minutes"},
    };
    wc->ShowCompletion = true;
    wc->DlgCompleted = "klart";
    webcopy::Run run(*wc, *BuildDialog());
    run.CurrentFileNumber = 3;
    fake.SetTickStep(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress);
        std::vector<std::string> progress;
        wc->OnCopyProgress = [&](TObject* s, int idx, uint32_t done, uint32_t total) {
            EXPECT_EQ(s, wc.get());
            progress.push_back(std::to_string(idx) + " " + std::to_string(done) + " " +
                               std::to_string(total));
        };
        fake.SetTicks(100000 + c.elapsedMs);
        run.UpdateProgress(c.done, c.total, "Up", 100000);
        EXPECT_EQ(Dialog()->ProgressBar->Position(), c.bar);
        EXPECT_EQ(Dialog()->ProgressLine->Caption(), c.progress);
        EXPECT_EQ(Dialog()->RateLine->Caption(), c.rate);
        EXPECT_EQ(Dialog()->TimeLeftLine->Caption(), c.left);
        EXPECT_EQ(Dialog()->ElapsedLine->Caption(), c.elapsed);
        EXPECT_EQ(Dialog()->Caption(), "Up : " + std::to_string(c.bar) + "% klart");
        EXPECT_EQ(progress, (std::vector<std::string>{"3 " + std::to_string(c.done) + " " +
                                                      std::to_string(c.total)}));
    }
}

TEST_F(WebCopyRun, UpdateProgressYieldsToTheUserAndKeepsTheCaptionWithoutCompletion) {
    webcopy::Run run(*wc, *BuildDialog());
    bool ran = false;
    headless::Post([&] { ran = true; });
    run.UpdateProgress(10, 100, "Up", 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(Dialog()->Caption(), "Downloading ...");
}

TEST_F(WebCopyRun, CancelAndCloseRules) {
    for (bool closeBtn : {false, true}) {
        int cancels = 0;
        wc->OnCopyCancel = [&](TObject*) { ++cancels; };
        wc->DlgShowCloseBtn = closeBtn;
        BuildDialog();
        Dialog()->CancelButton->Click();
        EXPECT_EQ(cancels, 1);
        EXPECT_TRUE(Dialog()->CancelRequested());
        EXPECT_EQ(Dialog()->Visible(), !closeBtn) << "close allowed only with the close box";
        Dialog()->ClearCancel();
        Dialog()->Close();  // the title bar's close box: hides, never cancels
        EXPECT_FALSE(Dialog()->CancelRequested());
        delete Dialog();
    }
}

TEST_F(WebCopyRun, KeptDialogAfterANormalRun) {
    wc->ShowOpenFile = true;
    wc->ShowOpenFolder = true;
    AddHttp("http://srv/a.txt");
    Serve("http://srv/a.txt", "data");
    std::string buttonAtCopyDone;
    wc->OnCopyDone = [&](TObject*) { buttonAtCopyDone = Dialog()->CancelButton->Caption(); };

    wc->Execute();

    EXPECT_EQ(buttonAtCopyDone, "Cancel");  // OnCopyDone comes before the Close text
    ASSERT_NE(Dialog(), nullptr);
    TForm* dialog = Dialog();
    EXPECT_TRUE(dialog->Visible());
    EXPECT_EQ(Dialog()->CancelButton->Caption(), "Close");
    EXPECT_TRUE(Dialog()->RunFinished());
    EXPECT_FALSE(Dialog()->Animation->Active());
    EXPECT_TRUE(Dialog()->OpenFileButton->Enabled());
    EXPECT_TRUE(Dialog()->OpenFolderButton->Enabled());

    // The click arrives as a message; the dialog goes once that message has been handled.
    headless::Post([this] {
        Dialog()->OpenFolderButton->Click();
        EXPECT_EQ(wc->ComponentCount(), 1);
    });
    Application->ProcessMessages();
    EXPECT_EQ(fake.ShellOpenCalls(), (std::vector<std::string>{"C:\\dl"}));
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(wc->ComponentCount(), 0);
}

TEST_F(WebCopyRun, KeptDialogAfterACancelledRun) {
    wc->ShowOpenFolder = true;
    AddHttp("http://srv/a.bin");
    platform::fake::HttpResponse r;
    r.body = Body(20000);
    r.onRead = [this](uint64_t delivered) {
        if (delivered == 4096) headless::Post([this] { Dialog()->CancelButton->Click(); });
    };
    fake.SetHttp("http://srv/a.bin", r);
    int cancels = 0;
    wc->OnCopyCancel = [&](TObject*) { ++cancels; };

    wc->Execute();

    ASSERT_NE(Dialog(), nullptr);
    EXPECT_TRUE(Dialog()->Visible());
    EXPECT_FALSE(Dialog()->OpenFolderButton->Enabled());
    Dialog()->CancelButton->Click();  // now "Close": same handler, and closing is allowed
    EXPECT_EQ(cancels, 2);
    EXPECT_FALSE(Dialog()->Visible());
    EXPECT_NE(Dialog(), nullptr);  // hidden, still owned

    // The next run builds a new dialog and leaves the hidden one alone.
    TForm* old = Dialog();
    wc->Execute();
    EXPECT_NE(Dialog(), old);
    EXPECT_EQ(wc->ComponentCount(), 2);
}

}  // namespace
