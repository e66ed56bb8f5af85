// The progress dialog: construction and layout, the lines the run writes, the buttons and
// the close rule.
#include "webcopy/ProgressDialog.h"

#include "framework/Backend.h"
#include "platform/Platform.h"
#include "webcopy/WebCopy.h"

namespace webcopy {
namespace {

constexpr int kDialogWidth = 300;
constexpr int kButtonWidth = 75;  // the platform's default push-button width
constexpr int kButtonHeight = 25;
constexpr int kLineHeight = 13;
constexpr int kDownloadClip = 257;
constexpr int kUploadClip = 258;

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

}  // namespace

TWcProgressDialog::TWcProgressDialog(TWebCopy& owner) : TForm(&owner), wc_(owner) {
    const int extra = (wc_.ShowTime ? 20 : 0) + (wc_.ShowElapsedTime ? 20 : 0);
    const int base = wc_.ShowFileName ? 80 : 60;
    const int buttonTop = extra + (wc_.ShowFileName ? 140 : 120);
    SetBounds(0, 0, kDialogWidth, backend::CaptionHeight() + extra + 188);
    Position = poScreenCenter;
    BorderStyle = bsDialog;
    FormStyle = wc_.ShowDialogOnTop ? fsStayOnTop : fsNormal;
    if (!wc_.DlgShowCloseBtn) BorderIcons = 0;  // no system menu, no close box
    StyleChanged();
    CenterOnScreen();
    // Closing hides the dialog; during the run only with the close box.
    OnCloseQuery = [this](TObject*, bool& canClose) {
        canClose = wc_.DlgShowCloseBtn || runFinished_;
    };

    FileLine = new TLabel(this);
    FileLine->SetParent(this);
    FileLine->AutoSize = false;
    FileLine->SetBounds(10, 80, kDialogWidth - 20, kLineHeight);
    FileLine->SetVisible(wc_.ShowFileName);
    FileLine->SetCaption(wc_.DlgFileLabel);
    ProgressLine = NewLine(this, base + 20, wc_.DlgProgressLabel, true);
    RateLine = NewLine(this, base + 40, wc_.DlgRateLabel, true);
    TimeLeftLine = NewLine(this, base + 60, wc_.DlgTimeLabel, wc_.ShowTime);
    ElapsedLine = NewLine(this, base + 80, wc_.DlgElapsedTimeLabel, wc_.ShowElapsedTime);

    Animation = new TAnimate(this);
    Animation->SetParent(this);
    Animation->SetBounds(10, 0, 272, 60);
    Animation->SetResId(nullptr, kDownloadClip);  // without the clip the strip stays empty
    Animation->SetActive(true);

    CancelButton = NewButton(this, kDialogWidth - kButtonWidth - 10, buttonTop, wc_.DlgCancel, 0,
                             [this](TObject*) { CancelClick(); });
    CancelButton->SetVisible(wc_.DlgShowCancel);
    if (!wc_.DlgShowCancel) SetHeight(Height() - 20);

    const int openLeft = kDialogWidth - 2 * kButtonWidth - 20;
    if (wc_.ShowOpenFolder) {
        OpenFolderButton = NewButton(this, openLeft, buttonTop, wc_.DlgOpenFolder, 1,
                                     [this](TObject*) { OpenClick(lastDir_); });
        OpenFolderButton->SetEnabled(false);
    }
    if (wc_.ShowOpenFile) {
        const int left = OpenFolderButton ? openLeft - kButtonWidth - 10 : openLeft;
        OpenFileButton = NewButton(this, left, buttonTop, wc_.DlgOpenFile, 2,
                                   [this](TObject*) { OpenClick(lastFile_); });
        OpenFileButton->SetEnabled(false);
    }

    ProgressBar = new TProgressBar(this);
    ProgressBar->SetParent(this);
    ProgressBar->SetBounds(10, 60, kDialogWidth - 20, 12);
    ProgressBar->Min = 0;
    ProgressBar->Max = 100;

    TForm::SetCaption(wc_.DlgCaption + " ...");

    if (wc_.OnBeforeDialogShow) wc_.OnBeforeDialogShow(&wc_, this);
    Show();
    if (wc_.AlwaysOnTop) backend::SetTopmost(*this);
    cancelled_ = false;  // a handler of OnBeforeDialogShow cannot pre-cancel the run
}

void TWcProgressDialog::SetLine(Line line, const std::string& text) {
    switch (line) {
        case Line::File: FileLine->SetCaption(text); break;
        case Line::Progress: ProgressLine->SetCaption(text); break;
        case Line::Rate: RateLine->SetCaption(text); break;
        case Line::TimeLeft: TimeLeftLine->SetCaption(text); break;
        case Line::Elapsed: ElapsedLine->SetCaption(text); break;
    }
}

void TWcProgressDialog::SetClip(Clip clip) {
    if (clip == Clip::Copy)
        Animation->SetCommonAVI(aviCopyFiles);
    else
        Animation->SetResId(nullptr, clip == Clip::Upload ? kUploadClip : kDownloadClip);
    Animation->SetActive(true);
}

void TWcProgressDialog::KeepOpen(bool cancelled, const std::string& lastFile,
                                 const std::string& lastDir) {
    lastFile_ = lastFile;
    lastDir_ = lastDir;
    CancelButton->SetCaption(wc_.DlgClose);
    runFinished_ = true;
    Animation->SetActive(false);
    if (!cancelled) {
        if (OpenFileButton) OpenFileButton->SetEnabled(true);
        if (OpenFolderButton) OpenFolderButton->SetEnabled(true);
    }
}

// Cancel during the run, Close after it: the same handler.
void TWcProgressDialog::CancelClick() {
    if (wc_.OnCopyCancel) wc_.OnCopyCancel(&wc_);
    cancelled_ = true;
    Close();  // the close rule decides whether it goes
}

// The click is handled inside the dialog's own message processing, so the dialog goes
// once that has returned.
void TWcProgressDialog::OpenClick(const std::string& path) {
    platform::Sys().ShellOpen(path);
    Close();
    Release();
}

}  // namespace webcopy

bool TWebCopy::DialogShowing() const {
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* dialog = dynamic_cast<webcopy::TWcProgressDialog*>(Components(i)))
            if (dialog->Visible()) return true;
    return false;
}
