// FTP deletion of one remote file: the one the job names, in the folder it names.
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
        if (!link.ChangeDirectory(job.TargetDir)) {
            ReportFolderFailed(run, job);
            return false;
        }
    }
    // A name taken from the URL is deleted where the URL says, below that folder; never a
    // file of the same name somewhere else.
    std::string name = job.TargetFilename;
    if (name.empty()) {
        const std::string path = BackslashesToSlashes(job.URL);
        const std::string dir = FtpDirectoryPart(path);
        if (!dir.empty() && !link.ChangeDirectory(dir)) {
            ReportFolderFailed(run, job);
            return false;
        }
        name = FileNameFromPath(path);
    }

    Application->ProcessMessages();
    if (platform::Net().FtpDeleteFile(link.get(), name)) {
        if (wc.OnRemovedFile) wc.OnRemovedFile(&wc, job.Index);
    } else if (wc.OnRemovedFileFailed) {
        wc.OnRemovedFileFailed(&wc, job.Index);
    }
    Application->ProcessMessages();
    return true;
}

}  // namespace webcopy
