#pragma once
// The operations, one per protocol, and what the driver needs to know of each. This table
// is the one place that lists the protocols.
#include "webcopy/Run.h"

namespace webcopy {

// Which of the component's words the dialog caption takes when a job starts.
enum class CaptionWord { Keep, Download, Copy, Upload };

struct OperationEntry {
    TWebCopyProtocol protocol;
    const char* name;     // as the enumeration names it
    Operation perform;
    CaptionWord caption;
    bool usesNetwork;     // needs the run's session
    bool singleFtp;       // a single-file FTP transfer, which may keep its connection
};

// The entry of `protocol`; nullptr for a value outside the enumeration.
const OperationEntry* FindOperation(TWebCopyProtocol protocol);

// The operations (operations/*.cpp).
bool HttpDownload(Run& run, Job& job);
bool HttpUpload(Run& run, Job& job);
bool FileCopy(Run& run, Job& job);
bool FtpDownload(Run& run, Job& job);
bool FtpUpload(Run& run, Job& job);
bool MultiFtpDownload(Run& run, Job& job);
bool MultiFtpUpload(Run& run, Job& job);
bool FtpListing(Run& run, Job& job);
bool FtpRemove(Run& run, Job& job);

}  // namespace webcopy
