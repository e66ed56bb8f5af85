#pragma once
// The progress dialog of a run: animation strip, progress bar, file, progress, rate and
// time lines, Cancel, and in the kept-open end state Close and the open buttons. Owned by
// the component; one per run, built by the driver when ShowDialog is true.
#include <string>

#include "framework/Forms.h"
#include "webcopy/ProgressView.h"

class TWebCopy;

namespace webcopy {

class TWcProgressDialog final : public TForm, public ProgressView {
public:
    // Builds the dialog from the component's options, raises OnBeforeDialogShow and shows it.
    explicit TWcProgressDialog(TWebCopy& owner);

    // ProgressView
    void SetCaption(const std::string& text) override { TForm::SetCaption(text); }
    void SetLine(Line line, const std::string& text) override;
    void SetBar(int percent) override { ProgressBar->SetPosition(percent); }
    void SetClip(Clip clip) override;
    bool CancelRequested() const override { return cancelled_; }
    void ClearCancel() override { cancelled_ = false; }
    void KeepOpen(bool cancelled, const std::string& lastFile,
                  const std::string& lastDir) override;

    // True once the run has ended with the dialog kept open.
    bool RunFinished() const { return runFinished_; }

    // Owned by the dialog.
    TProgressBar* ProgressBar;
    TLabel* FileLine;
    TLabel* ProgressLine;
    TLabel* RateLine;
    TLabel* TimeLeftLine;
    TLabel* ElapsedLine;
    TAnimate* Animation;
    TButton* CancelButton;
    TButton* OpenFileButton = nullptr;    // only with ShowOpenFile
    TButton* OpenFolderButton = nullptr;  // only with ShowOpenFolder

private:
    void CancelClick();
    void OpenClick(const std::string& path);

    TWebCopy& wc_;
    bool cancelled_ = false;
    bool runFinished_ = false;
    std::string lastFile_, lastDir_;
};

}  // namespace webcopy
