// The protocol table.
#include "webcopy/Operations.h"

namespace webcopy {
namespace {

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
