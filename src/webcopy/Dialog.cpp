// The progress dialog: construction and layout, the file line and per-block update that
// every transfer operation uses, the buttons and the close rule.
#include <algorithm>
#include <climits>

#include "framework/Application.h"
#include "framework/Backend.h"
#include "platform/Platform.h"
#include "webcopy/WebCopy.h"
#include "webcopy/WebCopyTexts.h"

namespace {

constexpr int kDialogWidth = 300;
constexpr int kButtonWidth = 75;  // the platform's default push-button width
constexpr int kButtonHeight = 25;
constexpr int kLineHeight = 13;
constexpr int kDownloadClip = 257;

TLabel* NewLine(TForm* dialog, int top, const std::string& text, bool visible) {
    auto* line = new TLabel(dialog);
    line->SetParent(dialog);
    line->SetBounds(10, top, 0, kLineHeight);
    line->SetVisible(visible);
    line->SetCaption(text);  // AutoSize: the line takes the width of its text
    return line;
}

TButton* NewButton(TForm* dialog, int left, int top, const std::string& text, int tabOrder,
                   TNotifyEvent onClick) {
    auto* button = new TButton(dialog);
    button->SetParent(dialog);
    button->SetBounds(left, top, kButtonWidth, kButtonHeight);
    button->SetCaption(text);
    button->TabOrder = tabOrder;
    button->OnClick = std::move(onClick);
    return button;
}

// What UpdateProgress last derived from values that seldom change.
struct ProgressMemo {
    bool totalKnown = false;
    uint32_t total = 0;
    std::string ofTotal;  // " " + DlgFileOfLabel + " " + SizeText(total)
    bool elapsedKnown = false;
    uint32_t elapsedMs = 0;  // what the elapsed-time line shows
    std::string line;        // the buffer every line is built in
};

// The dialog form; it carries the memo, so a new dialog starts with a fresh one.
class TProgressForm : public TForm {
public:
    using TForm::TForm;
    ProgressMemo memo;
};

// The form that holds the clicked button; the current dialog when the sender is not a control.
TForm* DialogOf(TObject* sender, TForm* current) {
    if (auto* control = dynamic_cast<TControl*>(sender))
        if (control->Parent()) return control->Parent();
    return current;
}

}  // namespace

void TWebCopy::BuildProgressDialog() {
    // A dialog kept open by an earlier run stays owned by the component; it is simply no
    // longer the current one.
    auto* dialog = new TProgressForm(this);
    ProgressDialog = dialog;

    const int extra = (ShowTime ? 20 : 0) + (ShowElapsedTime ? 20 : 0);
    const int base = ShowFileName ? 80 : 60;
    const int buttonTop = extra + (ShowFileName ? 140 : 120);
    dialog->SetBounds(0, 0, kDialogWidth, backend::CaptionHeight() + extra + 188);
    dialog->Position = poScreenCenter;
    dialog->BorderStyle = bsDialog;
    dialog->FormStyle = ShowDialogOnTop ? fsStayOnTop : fsNormal;
    if (!DlgShowCloseBtn) dialog->BorderIcons = 0;  // no system menu, no close box
    dialog->StyleChanged();
    dialog->CenterOnScreen();
    dialog->OnCloseQuery = [this](TObject* sender, bool& canClose) {
        DialogCloseQuery(sender, canClose);
    };

    FileLine = new TLabel(dialog);
    FileLine->SetParent(dialog);
    FileLine->AutoSize = false;
    FileLine->SetBounds(10, 80, kDialogWidth - 20, kLineHeight);
    FileLine->SetVisible(ShowFileName);
    FileLine->SetCaption(DlgFileLabel);
    ProgressLine = NewLine(dialog, base + 20, DlgProgressLabel, true);
    RateLine = NewLine(dialog, base + 40, DlgRateLabel, true);
    TimeLeftLine = NewLine(dialog, base + 60, DlgTimeLabel, ShowTime);
    ElapsedLine = NewLine(dialog, base + 80, DlgElapsedTimeLabel, ShowElapsedTime);

    Animation = new TAnimate(dialog);
    Animation->SetParent(dialog);
    Animation->SetBounds(10, 0, 272, 60);
    Animation->SetResId(nullptr, kDownloadClip);  // without the clip the strip stays empty
    Animation->SetActive(true);

    CancelButton = NewButton(dialog, kDialogWidth - kButtonWidth - 10, buttonTop, DlgCancel, 0,
                             [this](TObject* sender) { CancelClick(sender); });
    CancelButton->SetVisible(DlgShowCancel);
    RunFinished = false;
    if (!DlgShowCancel) dialog->SetHeight(dialog->Height() - 20);

    const int openLeft = kDialogWidth - 2 * kButtonWidth - 20;
    OpenFolderButton = nullptr;
    OpenFileButton = nullptr;
    if (ShowOpenFolder) {
        OpenFolderButton = NewButton(dialog, openLeft, buttonTop, DlgOpenFolder, 1,
                                     [this](TObject* sender) { OpenFolderClick(sender); });
        OpenFolderButton->SetEnabled(false);
    }
    if (ShowOpenFile) {
        const int left = OpenFolderButton ? openLeft - kButtonWidth - 10 : openLeft;
        OpenFileButton = NewButton(dialog, left, buttonTop, DlgOpenFile, 2,
                                   [this](TObject* sender) { OpenFileClick(sender); });
        OpenFileButton->SetEnabled(false);
    }

    ProgressBar = new TProgressBar(dialog);
    ProgressBar->SetParent(dialog);
    ProgressBar->SetBounds(10, 60, kDialogWidth - 20, 12);
    ProgressBar->Min = 0;
    ProgressBar->Max = 100;

    dialog->SetCaption(DlgCaption + " ...");
    Cancelled = false;

    if (ShowDialog) {
        if (OnBeforeDialogShow) OnBeforeDialogShow(this, dialog);
        dialog->Show();
        if (AlwaysOnTop) backend::SetTopmost(*dialog);
    }
    Cancelled = false;
}

void TWebCopy::SetFileLine(const std::string& fileName, const std::string& serverWord,
                           const std::string& serverText, bool serverPart) {
    if (!FileLine) return;
    std::string line = DlgFileLabel + " ";
    if (Items.Count() >= 2)
        line += IntToStr(CurrentFileNumber) + " " + DlgFileOfLabel + " " +
                IntToStr(Items.ActiveCount()) + " : ";
    line += fileName;
    if (serverPart) line += " " + serverWord + " " + serverText;
    FileLine->SetCaption(line);
}

void TWebCopy::UpdateProgress(uint32_t done, uint32_t total, const std::string& operationWord,
                              uint32_t startTick) {
    if (!ProgressDialog) return;
    platform::System& sys = platform::Sys();
    // This runs after every block: texts are built in one reused buffer, and what depends on
    // a value that did not move since the last block is not built again.
    auto* form = dynamic_cast<TProgressForm*>(ProgressDialog);
    ProgressMemo fresh;  // for a dialog that was not built here
    ProgressMemo& memo = form ? form->memo : fresh;
    std::string& line = memo.line;

    line.assign(DlgProgressLabel).append(1, ' ').append(SizeText(done));
    if (total > 0) {
        const long long percent =
            RoundHalfEven(static_cast<double>(done) / static_cast<double>(total) * 100.0);
        ProgressBar->SetPosition(static_cast<int>(std::min<long long>(percent, INT_MAX)));
        if (!memo.totalKnown || memo.total != total) {
            memo.ofTotal.assign(1, ' ').append(DlgFileOfLabel).append(1, ' ');
            memo.ofTotal.append(SizeText(total));
            memo.total = total;
            memo.totalKnown = true;
        }
        line.append(memo.ofTotal);
    }
    ProgressLine->SetCaption(line);

    if (OnCopyProgress) OnCopyProgress(this, CurrentFileNumber, done, total);
    // A handler may have ended the dialog (it cannot in this system, but a client could).
    if (!ProgressDialog) return;

    if (ShowCompletion) {
        line.assign(operationWord).append(" : ").append(IntToStr(ProgressBar->Position()));
        line.append("% ").append(DlgCompleted);
        ProgressDialog->SetCaption(line);
    }

    // The tick is read afresh for each line; differences wrap as unsigned 32-bit values.
    const uint32_t rateMs = sys.GetTickCount() - startTick;
    const long long rate =
        RoundHalfEven(static_cast<double>(done) / (static_cast<double>(rateMs) + 1.0) * 1000.0);
    line.assign(DlgRateLabel).append(1, ' ');
    line.append(RateText(static_cast<int32_t>(std::min<long long>(rate, INT32_MAX))));
    RateLine->SetCaption(line);

    line.assign(DlgTimeLabel).append(1, ' ');
    line.append(TimeText(sys.GetTickCount() - startTick, done, total));
    TimeLeftLine->SetCaption(line);

    // With nothing done the time text is the elapsed time alone: same milliseconds, same text.
    const uint32_t elapsedMs = sys.GetTickCount() - startTick;
    if (!memo.elapsedKnown || memo.elapsedMs != elapsedMs) {
        line.assign(DlgElapsedTimeLabel).append(1, ' ').append(TimeText(elapsedMs, 0, total));
        ElapsedLine->SetCaption(line);
        memo.elapsedMs = elapsedMs;
        memo.elapsedKnown = true;
    }

    Application->ProcessMessages();
}

void TWebCopy::CancelClick(TObject* Sender) {
    if (OnCopyCancel) OnCopyCancel(this);
    Cancelled = true;
    // DialogCloseQuery decides whether it goes.
    if (TForm* dialog = DialogOf(Sender, ProgressDialog)) dialog->Close();
}

void TWebCopy::DialogCloseQuery(TObject* /*Sender*/, bool& CanClose) {
    CanClose = DlgShowCloseBtn || RunFinished;
}

namespace {

void ForgetDialog(TWebCopy& wc) {
    wc.ProgressDialog = nullptr;
    wc.ProgressBar = nullptr;
    wc.FileLine = wc.ProgressLine = wc.RateLine = wc.TimeLeftLine = wc.ElapsedLine = nullptr;
    wc.CancelButton = wc.OpenFileButton = wc.OpenFolderButton = nullptr;
    wc.Animation = nullptr;
}

// Open-button handling: open the path, then close the dialog and destroy it once the click
// has been handled (the handler runs inside the dialog's own message processing).
void OpenAndRelease(TWebCopy& wc, TObject* sender, const std::string& path) {
    platform::Sys().ShellOpen(path);
    TForm* dialog = DialogOf(sender, wc.ProgressDialog);
    if (!dialog) return;
    dialog->Close();
    if (dialog == wc.ProgressDialog) ForgetDialog(wc);
    dialog->Release();
}

}  // namespace

void TWebCopy::OpenFileClick(TObject* Sender) { OpenAndRelease(*this, Sender, LastTargetFile); }

void TWebCopy::OpenFolderClick(TObject* Sender) { OpenAndRelease(*this, Sender, LastTargetDir); }

void TWebCopy::DestroyProgressDialog() {
    TForm* dialog = ProgressDialog;
    ForgetDialog(*this);
    delete dialog;  // its controls go with it
}
