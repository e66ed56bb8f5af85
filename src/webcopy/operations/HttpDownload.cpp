// HTTP download of one job: optional Basic authorization with the login dialog, redirects,
// status and date checks, the target file, and the block loop with progress and cancel.
#include <algorithm>
#include <cstdint>
#include <string>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/Run.h"
#include "webcopy/TargetFile.h"
#include "webcopy/WcBase64.h"
#include "webcopy/WcLogin.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {

constexpr int kMaxRedirects = 10;

bool QueryNumber(platform::HINTERNET request, uint32_t info, uint32_t& value) {
    uint32_t length = sizeof value;
    uint32_t index = 0;
    return platform::Net().HttpQueryInfo(request, info | platform::HTTP_QUERY_FLAG_NUMBER, &value,
                                         &length, &index);
}

bool QueryText(platform::HINTERNET request, uint32_t info, std::string& text) {
    char buffer[2048] = {};
    uint32_t length = sizeof buffer - 1;
    uint32_t index = 0;
    if (!platform::Net().HttpQueryInfo(request, info, buffer, &length, &index)) return false;
    text.assign(buffer, std::min<uint32_t>(length, sizeof buffer - 1));
    return true;
}

bool IsRedirect(uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The server's file date: Last-Modified as sent, no time-zone conversion. A header that is
// absent, cannot be read or names no calendar date counts as no date: now.
TDateTime ServerDate(platform::HINTERNET request) {
    platform::SystemTime stamp{};
    uint32_t length = sizeof stamp;
    uint32_t index = 0;
    if (!platform::Net().HttpQueryInfo(
            request, platform::HTTP_QUERY_LAST_MODIFIED | platform::HTTP_QUERY_FLAG_SYSTEMTIME,
            &stamp, &length, &index))
        stamp = platform::SystemTime{};
    try {
        return SystemTimeToDateTime(stamp);
    } catch (const EConvertError&) {
        return Now();
    }
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

// The proxy's credentials go to the proxy alone, when it asks for them (407): never into a
// URL, where the network library would take them for the destination server's. True when the
// request was sent again with them.
bool AnswerProxy(platform::HINTERNET request, const TWebCopy& wc) {
    if (wc.ProxyUserID.empty() || wc.ProxyPassword.empty()) return false;
    platform::Network& net = platform::Net();
    return net.InternetSetOption(request, platform::INTERNET_OPTION_PROXY_USERNAME, wc.ProxyUserID) &&
           net.InternetSetOption(request, platform::INTERNET_OPTION_PROXY_PASSWORD, wc.ProxyPassword) &&
           net.HttpSendRequest(request);
}

// Basic credentials and the one place (scheme, host and port) they were given for: a
// redirect elsewhere goes out without them.
struct Credentials {
    std::string user, password, origin;
    std::string HeaderFor(const std::string& url) const {
        if ((user.empty() && password.empty()) || UrlOrigin(url) != origin) return std::string();
        return "Authorization: Basic " + EncodeBase64(user + ":" + password) + "\r\n\r\n";
    }
};

}  // namespace

bool HttpDownload(Run& run, Job& job) {
    platform::Network& net = platform::Net();
    TWebCopy& wc = run.wc;
    job.NoNewerFile = false;

    const std::string urlFileName = FileNameFromPath(UrlWithoutCredentials(job.URL));
    run.SetFileLine(urlFileName, wc.DlgFromServerLabel, HostFromUrl(job.URL), wc.ShowServer);
    Application->ProcessMessages();

    // Redirects are followed here, so that credentials never go along to another place.
    uint32_t flags = platform::INTERNET_FLAG_RELOAD | platform::INTERNET_FLAG_NO_CACHE_WRITE |
                     platform::INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (wc.HTTPKeepAliveAuthentication) flags |= platform::INTERNET_FLAG_KEEP_CONNECTION;

    Credentials credentials{job.HTTPUserID, job.HTTPPassword, UrlOrigin(job.URL)};
    if (job.Authenticate == waAlways &&
        (credentials.user.empty() || credentials.password.empty()))
        if (!ShowLoginDialog("Connect to " + ServerFromUrl(job.URL), credentials.user,
                             credentials.password))
            return false;

    std::string url = job.URL;
    platform::InetHandle request;
    uint32_t status = 0;
    int redirects = 0;
    for (;;) {
        const std::string header = credentials.HeaderFor(url);
        request = net.InternetOpenUrl(run.Session.get(), url,
                                      header.empty() ? nullptr : header.c_str(),
                                      static_cast<uint32_t>(header.size()), flags, 0);
        Application->ProcessMessages();
        if (!request) {
            if (wc.OnURLNotFound) wc.OnURLNotFound(&wc, url);
            return false;
        }
        // A response without a readable status is no answer to go on with.
        bool statusRead = QueryNumber(request.get(), platform::HTTP_QUERY_STATUS_CODE, status);
        if (statusRead && status == 407 && AnswerProxy(request.get(), wc))
            statusRead = QueryNumber(request.get(), platform::HTTP_QUERY_STATUS_CODE, status);
        if (!statusRead) {
            const uint32_t code = platform::Sys().GetLastError();
            run.ReportError(static_cast<int>(code), [code] { return ErrorText(code); });
            return false;
        }
        if (IsRedirect(status) && redirects < kMaxRedirects) {
            std::string location;
            const std::string next = QueryText(request.get(), platform::HTTP_QUERY_LOCATION, location)
                                         ? ResolveRedirect(url, location)
                                         : std::string();
            // Once on https, the rest of the download stays there.
            if (!next.empty() && RedirectAllowed(url, next)) {  // otherwise the status is reported below
                ++redirects;
                url = next;
                continue;
            }
        }
        if (status != 401 || job.Authenticate == waNever) break;
        // What is typed is for the server that asked.
        if (!ShowLoginDialog("Connect to " + ServerFromUrl(url), credentials.user,
                             credentials.password))
            return false;
        credentials.origin = UrlOrigin(url);
        request.reset();
    }

    if (status >= 300) {
        request.reset();
        run.ReportError(static_cast<int>(status),
                        [status] { return TextHttpError + IntToStr(status); });
        return false;
    }

    if (job.CopyNewerOnly || wc.OnFileDateCheck) {
        const TDateTime serverDate = ServerDate(request.get());
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

    // The name comes from the job, never from where a redirect led.
    std::string target =
        JoinPath(job.TargetDir, job.TargetFilename.empty() ? urlFileName : job.TargetFilename);
    run.LastTargetFile = target;
    run.LastTargetDir = job.TargetDir;
    if (!run.PrepareTarget(target)) return false;
    TargetFile file(target);
    if (!file.Create()) {
        request.reset();
        run.ReportError(ecCreateTarget, [&target] { return TextCreateFile + target; });
        return false;
    }

    uint32_t contentLength = 0;
    if (!QueryNumber(request.get(), platform::HTTP_QUERY_CONTENT_LENGTH, contentLength))
        contentLength = 0;
    const ReceivedBody body = ReceiveBody(
        run, file,
        [&request](unsigned char* buffer, uint32_t size, uint32_t& got) {
            return ReadBlock(request.get(), buffer, size, got);
        },
        contentLength, wc.DlgDwnload);
    request.reset();
    const bool result = body.bytes > 0;

    // Only a whole body takes the target's place; on every other path the old file stays.
    if (body.writeFailed) {
        file.Discard();
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    }
    if (run.Cancelled()) {
        file.Discard();
        return result;
    }
    // A body that breaks off is not a download: the caller would take the part for the whole.
    if (body.readFailed || (contentLength > 0 && body.bytes < contentLength)) {
        file.Discard();
        run.ReportError(ecReadSource, [&job] { return TextReadSource + UrlWithoutCredentials(job.URL); });
        return false;
    }
    if (!result) {  // an empty body: nothing arrived to put in place
        file.Discard();
        return false;
    }
    if (!file.Commit()) {
        run.ReportError(ecWriteTarget, [&target] { return TextWriteTarget + target; });
        return false;
    }
    return true;
}

}  // namespace webcopy
