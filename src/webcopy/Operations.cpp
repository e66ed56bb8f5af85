// The protocol table.
#include "webcopy/Operations.h"

#include "webcopy/WebCopyErrors.h"

namespace webcopy {
namespace {

// A protocol this version cannot run yet: the job is reported failed, never silently.
bool NotBuilt(Run& run, Job& job) {
    const OperationEntry* entry = FindOperation(job.Protocol);
    run.ReportError(ecNotAvailable, [entry] { return TextNotAvailable + std::string(entry->name); });
    return false;
}

constexpr OperationEntry kOperations[] = {
    {wpHttp, "wpHttp", HttpDownload, CaptionWord::Download, true, false},
    {wpFtp, "wpFtp", FtpDownload, CaptionWord::Download, true, true},
    {wpFile, "wpFile", FileCopy, CaptionWord::Copy, false, false},
    {wpFtpUpload, "wpFtpUpload", FtpUpload, CaptionWord::Upload, true, true},
    {wpHttpUpload, "wpHttpUpload", HttpUpload, CaptionWord::Upload, true, false},
    {wpMultiFtp, "wpMultiFtp", MultiFtpDownload, CaptionWord::Keep, true, false},
    {wpMultiFtpUpload, "wpMultiFtpUpload", MultiFtpUpload, CaptionWord::Keep, true, false},
    {wpFtpDelete, "wpFtpDelete", FtpRemove, CaptionWord::Keep, true, false},
    {wpFtpList, "wpFtpList", FtpListing, CaptionWord::Keep, true, false},
};

}  // namespace

const OperationEntry* FindOperation(TWebCopyProtocol protocol) {
    for (const OperationEntry& entry : kOperations)
        if (entry.protocol == protocol) return &entry;
    return nullptr;
}

}  // namespace webcopy
