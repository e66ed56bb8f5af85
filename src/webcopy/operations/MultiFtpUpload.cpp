// FTP upload of every local entry that matches a mask, one by one through the single-file
// upload, into a remote folder that is created first when it is missing.
#include <vector>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {
namespace {

// The folder part of a local mask with its separator; empty when it has none.
std::string FolderPart(const std::string& mask) {
    const size_t cut = mask.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : mask.substr(0, cut + 1);
}

}  // namespace

bool MultiFtpUpload(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    job.NoNewerFile = false;
    run.view.SetClip(Clip::Upload);
    run.SetFileLine(FileNameFromPath(job.URL), wc.DlgToServerLabel, job.FTPHost, true);

    // Not kept: the files go over the connection the single-file uploads keep between them,
    // and this one and that one both close when the job ends.
    FtpLink link(run, KeyOfJob(job), false);
    if (!link.Open(FtpLink::Cache::Ignore, ForgetLastRemoteDir)) return false;
    if (!link.EnterCreating(job.TargetDir)) {
        ReportFolderFailed(run, job);
        return false;
    }

    Application->ProcessMessages();
    std::vector<platform::FindData> entries;
    platform::Fs().FindFiles(job.URL, entries);
    const std::string folder = FolderPart(job.URL);
    TDateTime lastFound = job.FileDate;
    for (const platform::FindData& entry : entries) {
        if (run.Cancelled()) break;
        // A mask such as "*" finds the folder's own entries and its subfolders too: only
        // files go up.
        if (entry.cFileName == "." || entry.cFileName == ".." ||
            (entry.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_))
            continue;
        // Every file is measured against the job's own date.
        FtpFileTask task = TaskOfJob(job);
        task.url = folder + entry.cFileName;
        task.targetName = entry.cFileName;
        task.keep = true;
        FtpUploadFile(run, job, task);
        job.NoNewerFile = task.noNewerFile;
        lastFound = task.fileDate;
        if (wc.OnMultiFTPFileDone) wc.OnMultiFTPFileDone(&wc, entry.cFileName);
    }
    job.FileDate = lastFound;
    return true;
}

}  // namespace webcopy
