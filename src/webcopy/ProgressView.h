#pragma once
// Where a run shows its work. The driver and the operations report through a Run (Run.h),
// which builds every text and fires OnCopyProgress; a view only puts the results on screen.
// The progress dialog is one; a run without a dialog uses one that shows nothing.
#include <string>

namespace webcopy {

enum class Clip { Download, Upload, Copy };
enum class Line { File, Progress, Rate, TimeLeft, Elapsed };

class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetLine(Line line, const std::string& text) = 0;
    virtual void SetBar(int percent) = 0;  // 0 to 100
    virtual void SetClip(Clip clip) = 0;   // switches the animation and starts it
    // Set by the user's Cancel; only the view knows of it.
    virtual bool CancelRequested() const = 0;
    virtual void ClearCancel() = 0;
    // The run has ended and the view stays on screen offering the last target (the open
    // buttons are enabled unless the run was cancelled).
    virtual void KeepOpen(bool cancelled, const std::string& lastFile,
                          const std::string& lastDir) = 0;
};

// A view that shows nothing and cannot be cancelled.
class HiddenView final : public ProgressView {
public:
    void SetCaption(const std::string&) override {}
    void SetLine(Line, const std::string&) override {}
    void SetBar(int) override {}
    void SetClip(Clip) override {}
    bool CancelRequested() const override { return false; }
    void ClearCancel() override {}
    void KeepOpen(bool, const std::string&, const std::string&) override {}
};

}  // namespace webcopy
