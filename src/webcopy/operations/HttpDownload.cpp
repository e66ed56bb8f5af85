// HTTP download of one job: optional Basic authorization with the login dialog, status and
// date checks, the target file, and the block loop with progress and cancel.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "framework/Application.h"
#include "platform/Platform.h"
#include "webcopy/WcBase64.h"
#include "webcopy/WcLogin.h"
#include "webcopy/Operations.h"
#include "webcopy/Run.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {

constexpr uint32_t kBlockSize = 4096;

// A target file that is deleted unless the download keeps it: a failed or cancelled
// download never leaves a partial file under the target's name.
class TargetFile {
public:
    TargetFile(std::string path, std::unique_ptr<platform::File> file)
        : path_(std::move(path)), file_(std::move(file)) {}
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;
    ~TargetFile() {
        if (!settled_) Discard();
    }
    bool Write(const void* data, uint32_t size) {
        uint32_t written = 0;
        return file_->Write(data, size, written) && written == size;
    }
    bool Close() {
        const bool ok = file_->Close();
        file_.reset();
        return ok;
    }
    void Keep() { settled_ = true; }  // the download stands
    // Closes (when still open) and deletes the file now.
    void Discard() {
        if (file_) file_->Close();
        file_.reset();
        platform::Fs().DeleteFile(path_);
        settled_ = true;
    }

private:
    std::string path_;
    std::unique_ptr<platform::File> file_;
    bool settled_ = false;
};

uint32_t QueryNumber(platform::HINTERNET request, uint32_t info, uint32_t initial) {
    uint32_t value = initial;
    uint32_t length = sizeof value;
    uint32_t index = 0;
    platform::Net().HttpQueryInfo(request, info | platform::HTTP_QUERY_FLAG_NUMBER, &value,
                                  &length, &index);
    return value;  // a failed query leaves the initial value
}

// Reads one block: up to `size` bytes, fewer only at the end of the body. The network layer
// may hand out less than asked in the middle of a body (its read-ahead runs dry), so it is
// asked again until the block is full.
bool ReadBlock(platform::HINTERNET request, unsigned char* buffer, uint32_t size, uint32_t& got) {
    got = 0;
    while (got < size) {
        uint32_t n = 0;
        if (!platform::Net().InternetReadFile(request, buffer + got, size - got, &n)) return false;
        if (n == 0) break;
        got += std::min(n, size - got);
    }
    return true;
}

std::string AuthorizationHeader(const std::string& user, const std::string& password) {
    if (user.empty() && password.empty()) return std::string();
    return "Authorization: Basic " + EncodeBase64(user + ":" + password) + "\r\n\r\n";
}

}  // namespace

bool HttpDownload(Run& run, Job& job) {
    platform::Network& net = platform::Net();
    TWebCopy& wc = run.wc;
    const std::string& URL = job.URL;
    std::string UserID = job.HTTPUserID;
    std::string Password = job.HTTPPassword;
    job.NoNewerFile = false;

    const std::string urlFileName = FileNameFromPath(URL);
    const std::string url = UrlWithProxyCredentials(wc, URL);
    run.SetFileLine(urlFileName, wc.DlgFromServerLabel, HostFromUrl(url), wc.ShowServer);
    Application->ProcessMessages();

    uint32_t flags = platform::INTERNET_FLAG_RELOAD | platform::INTERNET_FLAG_NO_CACHE_WRITE;
    if (wc.HTTPKeepAliveAuthentication) flags |= platform::INTERNET_FLAG_KEEP_CONNECTION;

    const std::string loginCaption = "Connect to " + ServerFromUrl(url);
    if (job.Authenticate == waAlways && (UserID.empty() || Password.empty()))
        if (!ShowLoginDialog(loginCaption, UserID, Password)) return false;

    platform::InetHandle request;
    uint32_t status = 0;  // a failed status query leaves it as it was
    for (;;) {
        const std::string header = AuthorizationHeader(UserID, Password);
        request = net.InternetOpenUrl(run.Session.get(), url,
                                      header.empty() ? nullptr : header.c_str(),
                                      static_cast<uint32_t>(header.size()), flags, 0);
        Application->ProcessMessages();
        if (!request.get()) {
            if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, url);
            return false;
        }
        status = QueryNumber(request.get(), platform::HTTP_QUERY_STATUS_CODE, status);
        if (status != 401 || job.Authenticate == waNever) break;
        if (!ShowLoginDialog(loginCaption, UserID, Password)) return false;
        request.reset();
    }

    if (status >= 300) {
        request.reset();
        run.ReportError(static_cast<int>(status),
                    [status] { return TextHttpError + IntToStr(status); });
        return false;
    }

    if (job.CopyNewerOnly || wc.OnFileDateCheck) {
        platform::SystemTime stamp{};
        uint32_t length = sizeof stamp;
        uint32_t index = 0;
        net.HttpQueryInfo(request.get(),
                          platform::HTTP_QUERY_LAST_MODIFIED | platform::HTTP_QUERY_FLAG_SYSTEMTIME,
                          &stamp, &length, &index);
        const TDateTime serverDate = SystemTimeToDateTime(stamp);  // no header: now
        if (wc.OnFileDateCheck) {
            job.FileDate = serverDate;
            bool allow = true;
            wc.OnFileDateCheck(&wc, job.Index, serverDate, allow);
            if (!allow) return false;
        } else if (serverDate > job.FileDate) {
            job.FileDate = serverDate;
        } else {
            job.NoNewerFile = true;
            job.FileDate = serverDate;
            request.reset();
            if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, urlFileName, serverDate, serverDate);
            return false;
        }
    }

    std::string target =
        JoinPath(job.TargetDir, job.TargetFilename.empty() ? FileNameFromPath(url) : job.TargetFilename);
    run.LastTargetFile = target;
    run.LastTargetDir = job.TargetDir;
    if (platform::Fs().FileExists(target)) {
        bool allow = true;
        if (wc.OnCopyOverWrite) wc.OnCopyOverWrite(&wc, target, allow);
        if (!allow) return false;
        if (wc.CreateUniqueFilenames) target = UniqueFileName(target);
    }
    ForceDirectory(FolderOfPath(target));
    std::unique_ptr<platform::File> opened =
        platform::Fs().Open(target, platform::OpenMode::CreateWrite);
    if (!opened) {
        request.reset();
        run.ReportError(ecCreateTarget, [&target] { return TextCreateFile + target; });
        return false;
    }
    TargetFile file(target, std::move(opened));

    const uint32_t contentLength =
        QueryNumber(request.get(), platform::HTTP_QUERY_CONTENT_LENGTH, 0);
    uint64_t received = 0;
    const uint32_t startTick = platform::Sys().GetTickCount();

    bool result = false;
    bool readFailed = false;
    bool writeFailed = false;
    unsigned char buffer[kBlockSize];
    uint32_t got = kBlockSize;
    while (got > 0 && !run.Cancelled()) {
        Application->ProcessMessages();
        if (!ReadBlock(request.get(), buffer, kBlockSize, got)) {
            readFailed = true;
            break;
        }
        if (got > 0 && !file.Write(buffer, got)) {
            writeFailed = true;
            break;
        }
        received += got;
        run.UpdateProgress(static_cast<uint32_t>(received), contentLength, wc.DlgDwnload, startTick);
        if (got > 0) result = true;
    }

    if (!file.Close()) writeFailed = true;
    request.reset();
    if (writeFailed) {
        file.Discard();
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    }
    if (run.Cancelled()) {
        file.Discard();
        return result;
    }
    // A body that breaks off is not a download: the caller would take the part for the whole.
    if (readFailed || (contentLength > 0 && received < contentLength)) {
        file.Discard();
        run.ReportError(ecReadSource, [&URL] { return TextReadSource + URL; });
        return false;
    }
    file.Keep();
    return result;
}

}  // namespace webcopy
