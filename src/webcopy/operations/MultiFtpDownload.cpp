// FTP download of every remote file that matches a mask, one by one over one connection,
// which stays cached for a later job to the same server and account.
#include <vector>

#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {

bool MultiFtpDownload(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    job.NoNewerFile = false;
    run.SetFileLine(FileNameFromPath(job.URL), wc.DlgFromServerLabel, job.FTPHost, wc.ShowServer);

    FtpLink link(run, KeyOfJob(job), true);
    if (!link.Open(FtpLink::Cache::Ignore)) return false;
    const std::string url = BackslashesToSlashes(job.URL);
    const std::string dir = FtpDirectoryPart(url);
    if (!dir.empty()) link.ChangeDirectory(dir);  // a wrong folder lists the login folder

    std::vector<std::string> names;
    {
        platform::FindData found;
        platform::InetHandle search =
            platform::Net().FtpFindFirstFile(link.get(), FileNameFromPath(url), found, 0, 0);
        if (search) {
            do {
                // A name is only ever a file of this folder, never a path out of the target.
                if (IsPlainName(found.cFileName)) names.push_back(found.cFileName);
                else ReportRefusedName(run, found.cFileName);
            } while (platform::Net().InternetFindNextFile(search.get(), found));
        }
    }

    TDateTime lastFound = job.FileDate;
    for (size_t p = 0; p < names.size() && !run.Cancelled(); ++p) {
        std::string line = wc.DlgFileLabel + " " + IntToStr(static_cast<int>(p + 1)) + " " +
                           wc.DlgFileOfLabel + " " + IntToStr(static_cast<int>(names.size())) +
                           " : " + names[p];
        if (wc.ShowServer) line += " " + wc.DlgFromServerLabel + " " + job.FTPHost;
        run.view.SetLine(Line::File, line);

        // Every file is measured against the job's own date.
        FtpFileTask task;
        task.index = static_cast<int>(p);
        task.url = names[p];
        task.targetDir = job.TargetDir;
        task.targetName = names[p];
        task.copyNewerOnly = job.CopyNewerOnly;
        task.fileDate = job.FileDate;
        task.keep = true;
        task.updateFileLabel = false;
        FtpDownloadFile(run, job, task);
        job.NoNewerFile = task.noNewerFile;
        lastFound = task.fileDate;
        if (wc.OnMultiFTPFileDone) wc.OnMultiFTPFileDone(&wc, names[p]);
    }
    job.FileDate = lastFound;
    return true;
}

}  // namespace webcopy
