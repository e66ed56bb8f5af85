// Operations whose protocols are not built yet. Each reports nothing and fails, so a job of
// such a protocol simply ends not Done.
#include "webcopy/WebCopy.h"

bool TWebCopy::HttpUpload(const std::string&, const std::string&, const std::string&,
                          TWebCopyHTTPCommand) {
    return false;
}

bool TWebCopy::FileCopy(int, const std::string&, const std::string&, const std::string&, int32_t,
                        const std::string&, const std::string&, const std::string&, bool,
                        TDateTime&, bool&) {
    return false;
}

bool TWebCopy::FtpDownload(int, const std::string&, const std::string&, const std::string&,
                           int32_t, const std::string&, const std::string&, const std::string&,
                           bool, TDateTime&, bool&, bool, bool) {
    return false;
}

bool TWebCopy::FtpUpload(int, const std::string&, const std::string&, const std::string&, int32_t,
                         const std::string&, const std::string&, const std::string&, bool,
                         TDateTime&, bool&, bool) {
    return false;
}

bool TWebCopy::MultiFtpDownload(int, const std::string&, const std::string&, const std::string&,
                                int32_t, const std::string&, const std::string&,
                                const std::string&, bool, TDateTime&, bool&, bool) {
    return false;
}

bool TWebCopy::MultiFtpUpload(int, const std::string&, const std::string&, const std::string&,
                              int32_t, const std::string&, const std::string&, const std::string&,
                              bool, TDateTime&, bool&, bool) {
    return false;
}

bool TWebCopy::FtpRemove(int, const std::string&, const std::string&, const std::string&, int32_t,
                         const std::string&, const std::string&, const std::string&, bool) {
    return false;
}

bool TWebCopy::FtpListing(int, const std::string&, const std::string&, const std::string&,
                          int32_t, const std::string&, const std::string&, const std::string&,
                          bool, TDateTime&, bool&, bool) {
    return false;
}
