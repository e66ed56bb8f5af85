// The run's shared services: error reports, the file line and the per-block progress texts.
#include "webcopy/Run.h"

#include <algorithm>
#include <climits>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/WebCopyTexts.h"

namespace webcopy {

Job::Job(int index, const TWebCopyItem& item)
    : Index(index), URL(item.URL), TargetDir(item.TargetDir),
      TargetFilename(item.TargetFilename), Protocol(item.Protocol),
      HTTPCommand(item.HTTPCommand), FTPHost(item.FTPHost), FTPUserID(item.FTPUserID),
      FTPPassword(item.FTPPassword), FTPPort(item.FTPPort), CopyNewerOnly(item.CopyNewerOnly),
      Authenticate(item.Authenticate), HTTPUserID(item.HTTPUserID),
      HTTPPassword(item.HTTPPassword), Resume(item.Resume), ResumeKey(item.ResumeKey),
      AllowUnconfirmedLength(item.AllowUnconfirmedLength),
      FileDate(item.FileDate) {}

Run::Run(TWebCopy& owner, ProgressView& progressView) : wc(owner), view(progressView) {}

uint32_t Run::StallLimitMs() const {
    if (wc.StallTimeout <= 0) return 0;
    return static_cast<uint32_t>(std::min(wc.StallTimeout, INT32_MAX / 1000)) * 1000u;
}

void Run::ReportError(int code, const std::function<std::string()>& text, uint32_t systemError) {
    if (Cancelled()) return;
    Report({code, true, 0, systemError, {}}, text);
}

void Run::ReportHttpStatus(uint32_t status) {
    if (Cancelled()) return;
    Report({static_cast<int>(status), false, status, 0, {}},
           [status] { return TextHttpError + IntToStr(status); });
}

void Run::ReportSystemError(uint32_t error) {
    if (Cancelled()) return;
    Report({static_cast<int>(error), false, 0, error, {}}, [error] { return ErrorText(error); });
}

// The text is built only for OnErrorInfo, which is there for it.
void Run::Report(TWebCopyErrorRecord record, const std::function<std::string()>& text) {
    if (wc.OnErrorInfo && text) record.Text = text();
    LastError = record;
    if (wc.OnError) wc.OnError(&wc, record.Code);
    if (wc.OnErrorInfo) wc.OnErrorInfo(&wc, record.Code, record.Text);
}

bool Run::PrepareTarget(std::string& target) {
    if (platform::Fs().FileExists(target)) {
        bool allow = true;
        if (wc.OnCopyOverWrite) wc.OnCopyOverWrite(&wc, target, allow);
        if (!allow) return false;
        if (wc.CreateUniqueFilenames) target = UniqueFileName(target);
        LastTargetFile = target;  // "Open file" opens what is written
    }
    ForceDirectory(FolderOfPath(target));  // a failure shows when the file is created
    return true;
}

void Run::SetFileLine(const std::string& fileName, const std::string& serverWord,
                      const std::string& serverText, bool serverPart) {
    std::string line = wc.DlgFileLabel + " ";
    if (wc.Items.Count() >= 2)
        line += IntToStr(CurrentFileNumber) + " " + wc.DlgFileOfLabel + " " +
                IntToStr(wc.Items.ActiveCount()) + " : ";
    line += fileName;
    if (serverPart) line += " " + serverWord + " " + serverText;
    view.SetLine(Line::File, line);
}

void Run::UpdateProgress(uint32_t done, uint32_t total, const std::string& operationWord,
                         uint32_t startTick, bool paced) {
    Update({done, total, &operationWord, startTick, Order::Transfer}, paced);
}

void Run::UpdateCopyProgress(uint32_t done, uint32_t total, uint32_t startTick, bool paced) {
    Update({done, total, &wc.DlgCopying, startTick, Order::Copy}, paced);
}

// Painting and the message queue cost more than a large block takes to arrive: a fast
// transfer shows its texts by time, and the event alone goes with every block.
void Run::Update(const Shown& values, bool paced) {
    const uint32_t now = platform::Sys().GetTickCount();
    if (paced && now - shownTick_ < kRepaintMs) {
        if (wc.OnCopyProgress) wc.OnCopyProgress(&wc, CurrentFileNumber, values.done, values.total);
        waiting_ = values;
        return;
    }
    shownTick_ = now;
    Show(values, true);
}

void Run::FlushProgress() {
    if (!waiting_) return;
    shownTick_ = platform::Sys().GetTickCount();
    Show(*waiting_, false);
}

void Run::ShowProgressLine(uint32_t done, uint32_t total, bool withTotal) {
    line_.assign(wc.DlgProgressLabel).append(1, ' ').append(SizeText(done));
    if (withTotal) {
        if (!totalKnown_ || total_ != total) {
            ofTotal_.assign(1, ' ').append(wc.DlgFileOfLabel).append(1, ' ');
            ofTotal_.append(SizeText(total));
            total_ = total;
            totalKnown_ = true;
        }
        line_.append(ofTotal_);
    }
    view.SetLine(Line::Progress, line_);
}

// This runs after every small block: texts are built in one reused buffer, and what depends
// on a value that did not move since the last block is not built again.
void Run::Show(const Shown& values, bool fireEvent) {
    waiting_.reset();
    platform::System& sys = platform::Sys();
    const auto [done, total, word, startTick, order] = values;
    const std::string& operationWord = *word;
    const bool copy = order == Order::Copy;
    const bool fire = fireEvent && wc.OnCopyProgress;

    if (copy && fire) wc.OnCopyProgress(&wc, CurrentFileNumber, done, total);
    if (total > 0) {
        const long long percent =
            RoundHalfEven(static_cast<double>(done) / static_cast<double>(total) * 100.0);
        bar_ = static_cast<int>(std::clamp<long long>(percent, 0, 100));  // the bar's range
        view.SetBar(bar_);
    } else if (copy) {
        bar_ = 100;  // an empty file is copied whole at once
        view.SetBar(bar_);
    }
    ShowProgressLine(done, total, copy || total > 0);
    if (!copy && fire) wc.OnCopyProgress(&wc, CurrentFileNumber, done, total);

    const auto completion = [&] {
        if (!wc.ShowCompletion) return;
        line_.assign(operationWord).append(" : ").append(IntToStr(bar_));
        line_.append("% ").append(wc.DlgCompleted);
        view.SetCaption(line_);
    };
    if (!copy) completion();

    // The tick is read afresh for each line; differences wrap as unsigned 32-bit values.
    const uint32_t rateMs = sys.GetTickCount() - startTick;
    const long long rate =
        RoundHalfEven(static_cast<double>(done) / (static_cast<double>(rateMs) + 1.0) * 1000.0);
    line_.assign(wc.DlgRateLabel).append(1, ' ');
    line_.append(RateText(static_cast<int32_t>(std::min<long long>(rate, INT32_MAX))));
    view.SetLine(Line::Rate, line_);
    if (copy) completion();

    line_.assign(wc.DlgTimeLabel).append(1, ' ');
    line_.append(TimeText(sys.GetTickCount() - startTick, done, total));
    view.SetLine(Line::TimeLeft, line_);

    // With nothing done the time text is the elapsed time alone: same milliseconds, same text.
    const uint32_t elapsedMs = sys.GetTickCount() - startTick;
    if (!elapsedKnown_ || elapsedMs_ != elapsedMs) {
        line_.assign(wc.DlgElapsedTimeLabel).append(1, ' ').append(TimeText(elapsedMs, 0, total));
        view.SetLine(Line::Elapsed, line_);
        elapsedMs_ = elapsedMs;
        elapsedKnown_ = true;
    }

    Application->ProcessMessages();
}

}  // namespace webcopy
