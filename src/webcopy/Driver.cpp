// The run: Execute hands the run to the user-interface thread through a worker thread's
// synchronize request, and RunItems performs the active jobs in order.
#include "framework/Application.h"
#include "framework/Thread.h"
#include "platform/Platform.h"
#include "webcopy/Driver.h"
#include "webcopy/WebCopy.h"

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
            Synchronize([this] { owner_->RunItems(); });
        } catch (...) {
            // RunItems has already closed its session and dialog; the run just ends.
        }
    }

private:
    TWebCopy* owner_;
};

bool IsSingleFtp(TWebCopyProtocol p) { return p == wpFtp || p == wpFtpUpload; }

std::string FtpKey(const TWebCopyItem& item) {
    return item.FTPHost + item.FTPUserID + item.FTPPassword;
}

void SetRunCaption(TWebCopy& wc, TWebCopyProtocol p) {
    if (!wc.ProgressDialog) return;
    switch (p) {
        case wpHttp:
        case wpFtp: wc.ProgressDialog->SetCaption(wc.DlgDwnload + " ..."); break;
        case wpFile: wc.ProgressDialog->SetCaption(wc.DlgCopying + " ..."); break;
        case wpFtpUpload:
        case wpHttpUpload: wc.ProgressDialog->SetCaption(wc.DlgUpload + " ..."); break;
        default: break;  // the multi-file, delete and list jobs keep the caption
    }
}

// The job's inputs, copied so that an event handler that edits Items cannot pull them away
// while the operation works.
struct Job {
    explicit Job(const TWebCopyItem& item)
        : URL(item.URL), TargetDir(item.TargetDir), TargetFilename(item.TargetFilename),
          Protocol(item.Protocol), HTTPCommand(item.HTTPCommand), FTPHost(item.FTPHost),
          FTPUserID(item.FTPUserID), FTPPassword(item.FTPPassword), FTPPort(item.FTPPort),
          CopyNewerOnly(item.CopyNewerOnly), Authenticate(item.Authenticate),
          HTTPUserID(item.HTTPUserID), HTTPPassword(item.HTTPPassword) {}
    std::string URL, TargetDir, TargetFilename;
    TWebCopyProtocol Protocol;
    TWebCopyHTTPCommand HTTPCommand;
    std::string FTPHost, FTPUserID, FTPPassword;
    int32_t FTPPort;
    bool CopyNewerOnly;
    TWebCopyAuthentication Authenticate;
    std::string HTTPUserID, HTTPPassword;
};

bool RunOperation(TWebCopy& wc, int i, const Job& j, TDateTime& date, bool& noNewer, bool keep) {
    switch (j.Protocol) {
        case wpHttp:
            return wc.HttpDownload(i, j.URL, j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date,
                                   noNewer, j.Authenticate, j.HTTPUserID, j.HTTPPassword);
        case wpFtp:
            return wc.FtpDownload(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                  j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date, noNewer,
                                  keep, true);
        case wpFile:
            return wc.FileCopy(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                               j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date, noNewer);
        case wpFtpUpload:
            return wc.FtpUpload(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date, noNewer,
                                keep);
        case wpHttpUpload:
            return wc.HttpUpload(j.URL, j.TargetDir, j.TargetFilename, j.HTTPCommand);
        case wpMultiFtp:
            return wc.MultiFtpDownload(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                       j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date,
                                       noNewer, false);
        case wpMultiFtpUpload:
            return wc.MultiFtpUpload(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                     j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date,
                                     noNewer, false);
        case wpFtpDelete:
            return wc.FtpRemove(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                j.TargetDir, j.TargetFilename, false);
        case wpFtpList:
            return wc.FtpListing(i, j.FTPUserID, j.FTPPassword, j.FTPHost, j.FTPPort, j.URL,
                                 j.TargetDir, j.TargetFilename, j.CopyNewerOnly, date, noNewer,
                                 false);
    }
    return false;  // a value outside the enumeration runs nothing
}

void OpenSession(TWebCopy& wc) {
    platform::Network& net = platform::Net();
    if (wc.Proxy.empty())
        wc.Session = net.InternetOpen(wc.Agent, platform::INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                      nullptr, 0);
    else
        wc.Session = net.InternetOpen(wc.Agent, platform::INTERNET_OPEN_TYPE_PROXY,
                                      wc.Proxy.c_str(), nullptr, 0);
}

// A kept FTP connection belongs to the session: it goes with it, so a later run can never
// pick up a connection of a closed session.
void CloseSession(TWebCopy& wc) {
    platform::Network& net = platform::Net();
    if (wc.CachedFtpConnection) net.InternetCloseHandle(wc.CachedFtpConnection);
    wc.CachedFtpConnection = nullptr;
    wc.CachedFtpKey.clear();
    if (wc.Session) net.InternetCloseHandle(wc.Session);
    wc.Session = nullptr;
}

void RunJobs(TWebCopy& wc) {
    const int count = wc.Items.Count();
    for (int i = 0; i < count; ++i) {
        if (!wc.Items[i].Active) continue;
        ++wc.CurrentFileNumber;
        if (wc.OnFileStart) wc.OnFileStart(&wc, i);

        const Job job(wc.Items[i]);
        SetRunCaption(wc, job.Protocol);
        TDateTime date = wc.Items[i].FileDate;
        bool noNewer = false;
        const bool keep = KeepConnectionFor(wc.Items, i);
        const bool result = RunOperation(wc, i, job, date, noNewer, keep);

        TWebCopyItem& item = wc.Items[i];
        item.FoundFileDate = date;
        item.Done = result && !wc.Cancelled;
        item.NoNewerFile = noNewer;
        if (wc.Cancelled) break;
        if (wc.OnFileDone) wc.OnFileDone(&wc, i);
    }
}

void EndRun(TWebCopy& wc) {
    if (wc.ShowOpenFile || wc.ShowOpenFolder) {
        if (wc.OnCopyDone) wc.OnCopyDone(&wc);
        if (wc.CancelButton) wc.CancelButton->SetCaption(wc.DlgClose);
        wc.RunFinished = true;
        if (wc.Animation) wc.Animation->SetActive(false);
        if (!wc.Cancelled) {
            if (wc.OpenFileButton) wc.OpenFileButton->SetEnabled(true);
            if (wc.OpenFolderButton) wc.OpenFolderButton->SetEnabled(true);
        }
    } else {
        if (wc.ProgressDialog) wc.ProgressDialog->Close();  // refused unless DlgShowCloseBtn
        wc.DestroyProgressDialog();
        if (wc.OnCopyDone) wc.OnCopyDone(&wc);
    }
}

}  // namespace

bool KeepConnectionFor(TWebCopyItems& items, int i) {
    if (!IsSingleFtp(items[i].Protocol) || i + 1 >= items.Count()) return false;
    const TWebCopyItem& next = items[i + 1];
    return IsSingleFtp(next.Protocol) && FtpKey(items[i]) == FtpKey(next);
}

void TWebCopy::Execute() {
    ThreadDone = false;
    new TWCopyThread(this, [this](TObject*) { ThreadDone = true; });
    // RunItems runs inside one of these calls; each blocks until there is work.
    while (!ThreadDone) Application->HandleMessage();
}

void TWebCopy::RunItems() {
    try {
        BuildProgressDialog();
        Session = nullptr;
        if (NetworkItemCount() > 0) OpenSession(*this);
        CurrentFileNumber = 0;
        LastRemoteDir.clear();
        RunJobs(*this);
    } catch (...) {
        // The run ends here without OnFileDone or OnCopyDone, but nothing stays open.
        CloseSession(*this);
        DestroyProgressDialog();
        throw;
    }
    CloseSession(*this);
    EndRun(*this);
}

int TWebCopy::NetworkItemCount() const {
    int n = 0;
    for (int i = 0; i < Items.Count(); ++i) {
        // The collection has no const indexer; reading through it changes nothing.
        const TWebCopyItem& item = const_cast<TWebCopyItems&>(Items)[i];
        if (item.Active && item.Protocol != wpFile) ++n;
    }
    return n;
}
