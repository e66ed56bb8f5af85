// FTP listing: the entries of a remote folder that match a mask, as the job's FileList and
// FileDetails.
#include <memory>
#include <optional>

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
    const bool listed = ListPlainEntries(run, job, link, job.URL, [&](const platform::FindData& found) {
        job.FileList->Add(found.cFileName);
        TFileDetailItem* item = job.FileDetails->Add();
        item->Attributes = found.dwFileAttributes;
        item->FileName = found.cFileName;
        item->SizeLow = found.nFileSizeLow;
        item->SizeHigh = found.nFileSizeHigh;
        item->FileTime = found.ftCreationTime;
        run.view.SetLine(Line::File, IntToStr(++number) + " " + found.cFileName);
    });
    // A listing holds sizes of 2 GiB and more at 2147483647; SIZE, asked once the listing's
    // data connection is closed, knows them exactly.
    for (int i = 0; listed && i < job.FileDetails->Count() && !run.Cancelled(); ++i) {
        TFileDetailItem& item = (*job.FileDetails)[i];
        if (item.SizeHigh != 0 || item.SizeLow != 0x7FFFFFFFu ||
            (item.Attributes & platform::FILE_ATTRIBUTE_DIRECTORY_))
            continue;
        if (const std::optional<uint64_t> size = link.SizeReply(item.FileName)) {
            item.SizeLow = static_cast<uint32_t>(*size);
            item.SizeHigh = static_cast<uint32_t>(*size >> 32);
        }
    }
    return listed;
}

}  // namespace webcopy
