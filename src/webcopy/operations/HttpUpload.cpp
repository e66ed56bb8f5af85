// HTTP upload of one local file as the body of a POST or PUT: the connection to the URL's
// host, port and scheme, the length announced before a body streamed in 4 KiB blocks with
// progress and cancel, and the server's answer.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Application.h"
#include "framework/Strings.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/Run.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {


// Where an upload goes. Credentials written into the URL are not sent anywhere.
struct Endpoint {
    bool valid = false;
    bool secure = false;
    std::string host;  // without user information and port
    uint16_t port = 0;
    std::string object;
};

Endpoint ParseEndpoint(const std::string& url) {
    Endpoint e;
    std::string rest = url;
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        e.secure = UpperCase(rest.substr(0, scheme)) == "HTTPS";
        rest.erase(0, scheme + 3);
    }
    const size_t end = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, end);
    e.object = end == std::string::npos ? "/" : rest.substr(end);
    if (e.object[0] != '/') e.object.insert(0, "/");
    const size_t fragment = e.object.find('#');
    if (fragment != std::string::npos) e.object.erase(fragment);

    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    e.port = e.secure ? platform::INTERNET_DEFAULT_HTTPS_PORT : platform::INTERNET_DEFAULT_HTTP_PORT;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        authority.erase(colon);
        if (!digits.empty()) {
            if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
                return e;
            const int port = std::stoi(digits);
            if (port < 1 || port > 65535) return e;
            e.port = static_cast<uint16_t>(port);
        }
    }
    e.host = authority;
    e.valid = !e.host.empty();
    return e;
}

uint32_t StatusOf(platform::HINTERNET request) {
    uint32_t status = 0;
    uint32_t length = sizeof status;
    uint32_t index = 0;
    platform::Net().HttpQueryInfo(request,
                                  platform::HTTP_QUERY_STATUS_CODE | platform::HTTP_QUERY_FLAG_NUMBER,
                                  &status, &length, &index);
    return status;  // 0 when the answer has no status
}

// Connects to the job's URL and opens the request there. False (reported) when either fails.
bool OpenUploadRequest(Run& run, const Job& job, platform::InetHandle& connection,
                       platform::InetHandle& request) {
    platform::Network& net = platform::Net();
    const Endpoint to = ParseEndpoint(job.URL);
    if (to.valid) {
        connection = net.InternetConnect(run.Session.get(), to.host, to.port, nullptr, nullptr,
                                         platform::INTERNET_SERVICE_HTTP, 0, 0);
        if (connection) {
            // A redirect would send the body (or a GET in its place) to where the server
            // says: its 3xx is the answer, and a failure.
            uint32_t flags = platform::INTERNET_FLAG_NO_CACHE_WRITE | platform::INTERNET_FLAG_NO_AUTO_REDIRECT;
            if (to.secure) flags |= platform::INTERNET_FLAG_SECURE;
            request = net.HttpOpenRequest(connection.get(), job.HTTPCommand == hcPut ? "PUT" : "POST",
                                          to.object, flags, 0);
        }
    }
    if (request) return true;
    connection.reset();
    run.ReportError(ecConnect, [&job] { return TextConnectServer + HostFromUrl(job.URL); });
    return false;
}

// Sends exactly `total` bytes of `file`, the announced length: bytes a writer adds meanwhile
// would follow the body onto the connection, where the server takes them for a request of
// their own. False (reported unless cancelled) when the body did not go out whole.
bool SendBody(Run& run, platform::File& file, platform::HINTERNET request, uint32_t total,
              const std::string& path) {
    platform::Network& net = platform::Net();
    const uint32_t startTick = platform::Sys().GetTickCount();
    std::vector<unsigned char> buffer(BlockPace::kLargeBlock);
    BlockPace pace;
    uint32_t sent = 0;
    bool more = true;
    while (more && !run.Cancelled()) {
        const uint32_t size = pace.Size();
        const uint32_t want = std::min<uint32_t>(size, total - sent);
        uint32_t got = 0;
        if (want > 0 && !file.Read(buffer.data(), want, got)) {
            run.ReportError(ecReadSource, [&path] { return TextReadSource + path; });
            return false;
        }
        uint32_t written = 0;
        if (!net.InternetWriteFile(request, buffer.data(), got, &written)) {
            // A server that stopped taking the body reports the stall as the library's time-out.
            run.ReportSystemError(platform::Sys().GetLastError());
            return false;
        }
        sent += got;
        more = got == size;
        run.UpdateProgress(sent, total, run.wc.DlgUpload, startTick, more && pace.Streaming());
        pace.Moved(got, size);
    }
    if (run.Cancelled()) return false;
    run.FlushProgress();
    if (sent == total) return true;
    run.ReportError(ecReadSource, [&path] { return TextReadSource + path; });
    return false;
}

// Ends the request and reads the server's answer to the whole body.
bool Accepted(Run& run, platform::HINTERNET request) {
    if (!platform::Net().HttpEndRequest(request)) {
        run.ReportSystemError(platform::Sys().GetLastError());
        return false;
    }
    const uint32_t status = StatusOf(request);
    if (status == 0) {
        run.ReportSystemError(platform::Sys().GetLastError());
        return false;
    }
    if (status < 300) return true;
    run.ReportHttpStatus(status);
    return false;
}

}  // namespace

bool HttpUpload(Run& run, Job& job) {
    platform::Network& net = platform::Net();
    TWebCopy& wc = run.wc;
    const std::string& url = job.URL;

    run.view.SetClip(Clip::Upload);
    // Names and texts come from the URL without its credentials.
    const std::string urlFileName = FileNameFromPath(UrlWithoutCredentials(url));
    run.SetFileLine(urlFileName, wc.DlgToServerLabel, HostFromUrl(url), wc.ShowServer);

    // Read access only: a read-only file uploads. Another program may go on writing to it
    // (a log file); what it held when the size was taken is sent.
    const std::string path =
        JoinPath(job.TargetDir, job.TargetFilename.empty() ? urlFileName : job.TargetFilename);
    std::unique_ptr<platform::File> file = platform::Fs().Open(path, platform::OpenMode::ReadShared);
    const int64_t size = file ? file->Size() : -1;
    // The request announces the length in 32 bits.
    if (size < 0 || size > static_cast<int64_t>(UINT32_MAX)) {
        file.reset();
        run.ReportError(ecOpenSource, [&path] { return TextOpenSource + path; });
        return false;
    }
    const auto total = static_cast<uint32_t>(size);
    Application->ProcessMessages();

    platform::InetHandle connection;
    platform::InetHandle request;
    if (!OpenUploadRequest(run, job, connection, request)) return false;
    if (!net.HttpSendRequestEx(request.get(), total, platform::HSR_INITIATE)) {
        run.ReportSystemError(platform::Sys().GetLastError());
        return false;
    }
    net.SetStallLimit(request.get(), run.StallLimitMs());
    const bool sent = SendBody(run, *file, request.get(), total, path);
    file.reset();
    // A body shorter than announced is never ended: the server would wait for the rest.
    // Closing the request drops the connection instead.
    return sent && Accepted(run, request.get());
}

}  // namespace webcopy
