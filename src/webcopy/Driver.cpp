// The run: Execute hands the run to the user-interface thread through a worker thread's
// synchronize request, and RunItems performs the active jobs in order.
#include "webcopy/Driver.h"

#include <memory>
#include <utility>

#include "framework/Application.h"
#include "framework/Thread.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/ProgressDialog.h"
#include "webcopy/Run.h"
#include "webcopy/WebCopy.h"

namespace webcopy {
namespace {

// Its only work is to have RunItems run on the user-interface thread; it frees itself.
class TWCopyThread : public TThread {
public:
    // The termination handler is installed before the body starts, so no window exists in
    // which the thread could end without it.
    TWCopyThread(TWebCopy* owner, TNotifyEvent onTerminate) : owner_(owner) {
        FreeOnTerminate = true;
        OnTerminate = std::move(onTerminate);
        Start();
    }

protected:
    void Execute() override {
        try {
            Synchronize([this] { RunItems(*owner_); });
        } catch (...) {
            // RunItems has already closed its session and dialog; the run just ends.
        }
    }

private:
    TWebCopy* owner_;
};

bool IsSingleFtp(TWebCopyProtocol p) {
    const OperationEntry* entry = FindOperation(p);
    return entry && entry->singleFtp;
}

FtpKey KeyOf(const TWebCopyItem& item) {
    return FtpKey{item.FTPHost, item.FTPPort, item.FTPUserID, item.FTPPassword};
}

void SetJobCaption(Run& run, CaptionWord word) {
    const TWebCopy& wc = run.wc;
    switch (word) {
        case CaptionWord::Download: run.view.SetCaption(wc.DlgDwnload + " ..."); break;
        case CaptionWord::Copy: run.view.SetCaption(wc.DlgCopying + " ..."); break;
        case CaptionWord::Upload: run.view.SetCaption(wc.DlgUpload + " ..."); break;
        case CaptionWord::Keep: break;  // the multi-file, delete and list jobs
    }
}

bool NeedsNetwork(TWebCopyItems& items) {
    for (int i = 0; i < items.Count(); ++i) {
        const OperationEntry* entry = FindOperation(items[i].Protocol);
        if (items[i].Active && entry && entry->usesNetwork) return true;
    }
    return false;
}

void OpenSession(Run& run) {
    const TWebCopy& wc = run.wc;
    platform::Network& net = platform::Net();
    if (wc.Proxy.empty())
        run.Session = net.InternetOpen(wc.Agent, platform::INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                       nullptr, 0);
    else
        run.Session = net.InternetOpen(wc.Agent, platform::INTERNET_OPEN_TYPE_PROXY,
                                       wc.Proxy.c_str(), nullptr, 0);
    // The library's own time-outs where it keeps them (Windows); the transfers enforce the
    // stall limit themselves as well.
    if (const uint32_t limit = run.StallLimitMs(); limit > 0 && run.Session) {
        for (const uint32_t option :
             {platform::INTERNET_OPTION_CONNECT_TIMEOUT, platform::INTERNET_OPTION_SEND_TIMEOUT,
              platform::INTERNET_OPTION_RECEIVE_TIMEOUT})
            net.InternetSetOption(run.Session.get(), option, limit);
        net.SetStallLimit(run.Session.get(), limit);  // a server that never answers
    }
}

// A kept FTP connection belongs to the session: it goes with it, so a later run can never
// pick up a connection of a closed session.
void CloseSession(Run& run) {
    run.CachedFtpConnection.reset();
    run.CachedFtpKey.reset();
    run.Session.reset();
}

void RunJobs(Run& run) {
    TWebCopy& wc = run.wc;
    const int count = wc.Items.Count();
    for (int i = 0; i < count; ++i) {
        if (!wc.Items[i].Active) continue;
        ++run.CurrentFileNumber;
        if (wc.OnFileStart) wc.OnFileStart(&wc, i);

        Job job(i, wc.Items[i]);
        job.KeepConnection = KeepConnectionFor(wc.Items, i);
        const OperationEntry* entry = FindOperation(job.Protocol);
        bool result = false;  // a value outside the enumeration runs nothing
        run.LastError = {};
        if (entry) {
            SetJobCaption(run, entry->caption);
            result = entry->perform(run, job);
        }

        TWebCopyItem& item = wc.Items[i];
        item.FoundFileDate = job.FileDate;
        item.Done = result && !run.Cancelled();
        item.NoNewerFile = job.NoNewerFile;
        item.Error = std::move(run.LastError);
        if (job.FileList) item.FileList = std::move(job.FileList);
        if (job.FileDetails) item.FileDetails = std::move(job.FileDetails);
        if (run.Cancelled()) break;
        if (wc.OnFileDone) wc.OnFileDone(&wc, i);
    }
}

}  // namespace

bool KeepConnectionFor(TWebCopyItems& items, int i) {
    if (!IsSingleFtp(items[i].Protocol) || i + 1 >= items.Count()) return false;
    const TWebCopyItem& next = items[i + 1];
    return IsSingleFtp(next.Protocol) && KeyOf(items[i]) == KeyOf(next);
}

void RunItems(TWebCopy& wc) {
    // The dialog is owned by the component; this run lets it go unless it ends kept open.
    std::unique_ptr<TWcProgressDialog> dialog;
    if (wc.ShowDialog) dialog = std::make_unique<TWcProgressDialog>(wc);
    HiddenView hidden;
    Run run(wc, dialog ? static_cast<ProgressView&>(*dialog) : hidden);

    // Every wait for a server lets the dialog work and ends at once on the user's cancel.
    struct WaitHook {
        explicit WaitHook(Run& run) {
            platform::Net().SetWaitHook([&run] {
                Application->ProcessMessages();
                return run.Cancelled();
            });
        }
        ~WaitHook() { platform::Net().SetWaitHook(nullptr); }
    };
    {
        WaitHook hook(run);
        if (NeedsNetwork(wc.Items)) OpenSession(run);
        RunJobs(run);  // an exception ends the run here without OnFileDone or OnCopyDone
        CloseSession(run);
    }

    if (wc.ShowOpenFile || wc.ShowOpenFolder) {
        if (wc.OnCopyDone) wc.OnCopyDone(&wc);
        run.view.KeepOpen(run.Cancelled(), run.LastTargetFile, run.LastTargetDir);
        dialog.release();  // stays on screen, owned by the component
    } else {
        if (dialog) dialog->Close();  // refused unless DlgShowCloseBtn
        dialog.reset();
        if (wc.OnCopyDone) wc.OnCopyDone(&wc);
    }
}

}  // namespace webcopy

bool TWebCopy::Execute() {
    // An event handler of a run may call Execute again; that run must not be disturbed.
    if (running_) return false;
    running_ = true;
    threadDone_ = false;
    cancelRequested_ = false;
    new webcopy::TWCopyThread(this, [this](TObject*) { threadDone_ = true; });
    // RunItems runs inside one of these calls; each blocks until there is work.
    while (!threadDone_) Application->HandleMessage();
    running_ = false;
    return true;
}
