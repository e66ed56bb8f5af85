// FTP deletion of one remote file in the job's remote folder.
#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {
bool FtpRemove(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    run.view.SetClip(Clip::Upload);
    run.SetFileLine(FileNameFromPath(job.URL), wc.DlgToServerLabel, job.FTPHost, true);

    FtpLink link(run, KeyOfJob(job), job.KeepConnection);
    if (!link.Open(FtpLink::Cache::LookUp, ForgetLastRemoteDir)) return false;
    // The folder is always entered: where an earlier job left a connection is no guide.
    if (!job.TargetDir.empty()) {
        run.LastRemoteDir = job.KeepConnection ? job.TargetDir : std::string();
        if (!link.ChangeDirectory(job.TargetDir)) return false;
    }

    Application->ProcessMessages();
    const std::string name = job.TargetFilename.empty() ? FileNameFromPath(job.URL) : job.TargetFilename;
    if (platform::Net().FtpDeleteFile(link.get(), name)) {
        if (wc.OnRemovedFile) wc.OnRemovedFile(&wc, job.Index);
    } else if (wc.OnRemovedFileFailed) {
        wc.OnRemovedFileFailed(&wc, job.Index);
    }
    Application->ProcessMessages();
    return true;
}

}  // namespace webcopy
