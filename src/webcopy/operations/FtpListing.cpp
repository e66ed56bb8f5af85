// FTP listing: the entries of a remote folder that match a mask, as the job's FileList and
// FileDetails.
#include <memory>

#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/WebCopyHelpers.h"
#include "webcopy/operations/FtpConnection.h"

namespace webcopy {

bool FtpListing(Run& run, Job& job) {
    TWebCopy& wc = run.wc;
    job.NoNewerFile = false;
    run.SetFileLine(FileNameFromPath(job.URL), wc.DlgFromServerLabel, job.FTPHost, wc.ShowServer);

    FtpLink link(run, KeyOfJob(job), false);
    if (!link.Open(FtpLink::Cache::Ignore)) return false;
    // Even an empty listing replaces the last one.
    job.FileList = std::make_unique<TStringList>();
    job.FileDetails = std::make_unique<TFileDetailItems>();
    int number = 0;
    return ListPlainEntries(run, job, link, job.URL, [&](const platform::FindData& found) {
        job.FileList->Add(found.cFileName);
        TFileDetailItem* item = job.FileDetails->Add();
        item->Attributes = found.dwFileAttributes;
        item->FileName = found.cFileName;
        item->SizeLow = found.nFileSizeLow;
        item->SizeHigh = found.nFileSizeHigh;
        item->FileTime = found.ftCreationTime;
        run.view.SetLine(Line::File, IntToStr(++number) + " " + found.cFileName);
    });
}

}  // namespace webcopy
