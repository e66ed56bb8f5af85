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
    // The names first: the search's data connection must be closed before a file's opens.
    std::vector<std::string> names;
    if (!ListPlainEntries(run, job, link, job.URL,
                          [&names](const platform::FindData& found) { names.push_back(found.cFileName); }))
        return false;

    TDateTime lastFound = job.FileDate;
    for (size_t p = 0; p < names.size() && !run.Cancelled(); ++p) {
        std::string line = wc.DlgFileLabel + " " + IntToStr(static_cast<int>(p + 1)) + " " +
                           wc.DlgFileOfLabel + " " + IntToStr(static_cast<int>(names.size())) +
                           " : " + names[p];
        if (wc.ShowServer) line += " " + wc.DlgFromServerLabel + " " + job.FTPHost;
        run.view.SetLine(Line::File, line);

        // Every file is measured against the job's own date.
        FtpFileTask task = TaskOfJob(job);
        task.index = static_cast<int>(p);
        task.url = names[p];
        task.targetName = names[p];
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
