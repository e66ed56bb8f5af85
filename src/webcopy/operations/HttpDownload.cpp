// HTTP download of one job: optional Basic authorization with the login dialog, redirects,
// status and date checks, the target file, the block loop with progress, cancel and the
// stall limit, and the resume of a body that broke off.
#include <algorithm>
#include <cstdint>
#include <string>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "platform/Platform.h"
#include "webcopy/Operations.h"
#include "webcopy/Resume.h"
#include "webcopy/Run.h"
#include "webcopy/TargetFile.h"
#include "webcopy/WcBase64.h"
#include "webcopy/WcLogin.h"
#include "webcopy/WebCopyErrors.h"
#include "webcopy/WebCopyHelpers.h"

namespace webcopy {
namespace {

constexpr int kMaxRedirects = 10;
constexpr int kRetries = 2;             // after a break within one run, with resume
constexpr uint32_t kRetryPauseMs = 1000;

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

// Content-Length in all its 64 bits (the number form of the query has 32). False when the
// answer announces none, or something that is no length.
bool QueryLength(platform::HINTERNET request, uint64_t& length) {
    std::string text;
    if (!QueryText(request, platform::HTTP_QUERY_CONTENT_LENGTH, text)) return false;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    // At most 19 digits: every such number fits in 64 bits.
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    length = std::stoull(text);
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

// The job's TimeLimit and StallMinBytes over one download, from its request on.
class Pace {
public:
    Pace(const TWebCopy& wc, uint32_t stallLimitMs)
        : start_(platform::Sys().GetTickCount()), stallMs_(stallLimitMs),
          limitMs_(wc.TimeLimit > 0
                       ? static_cast<uint32_t>(std::min(wc.TimeLimit, INT32_MAX / 1000)) * 1000u
                       : 0),
          minBytes_(wc.StallMinBytes), windowStart_(start_) {}

    // Before a read: false when the download is over its time or moved too little in a
    // stall window. Otherwise the read's stall limit is no longer than the time left.
    bool Keeps(platform::HINTERNET request) {
        const uint32_t now = platform::Sys().GetTickCount();
        if (limitMs_ > 0) {
            const uint32_t spent = now - start_;
            if (spent >= limitMs_) return false;
            const uint32_t left = limitMs_ - spent;
            platform::Net().SetStallLimit(request, stallMs_ > 0 ? std::min(left, stallMs_) : left);
        }
        if (minBytes_ == 0 || stallMs_ == 0 || now - windowStart_ < stallMs_) return true;
        if (windowBytes_ < minBytes_) return false;
        windowStart_ = now;
        windowBytes_ = 0;
        return true;
    }

    void Count(uint32_t n) { windowBytes_ += n; }

private:
    uint32_t start_, stallMs_, limitMs_, minBytes_, windowStart_;
    uint64_t windowBytes_ = 0;
};

// Reads one block, 0 bytes only at the end of the body. A small block is filled, as the
// network layer may hand out less than asked in the middle of a body: a short file reports
// whole steps. A large one is what has arrived, so a slow line still shows its progress. On
// a failure `got` holds what came before it; a download that `pace` ends fails with
// ERROR_INTERNET_TIMEOUT.
bool ReadBlock(platform::HINTERNET request, unsigned char* buffer, uint32_t size, uint32_t& got, Pace& pace) {
    got = 0;
    do {
        if (!pace.Keeps(request)) {
            platform::Sys().SetLastError(platform::ERROR_INTERNET_TIMEOUT_);
            return false;
        }
        uint32_t n = 0;
        if (!platform::Net().InternetReadFile(request, buffer + got, size - got, &n)) return false;
        if (n == 0) break;
        n = std::min(n, size - got);
        got += n;
        pace.Count(n);
    } while (got < size && size <= BlockPace::kSmallBlock);
    return true;
}

// The proxy's credentials go to the configured proxy alone, when it asks for them (407):
// never into a URL, where the network library would take them for the destination server's,
// and never to a server reached directly that answers 407. True when the request was sent
// again with them.
bool AnswerProxy(platform::HINTERNET request, const TWebCopy& wc) {
    if (wc.Proxy.empty() || wc.ProxyUserID.empty() || wc.ProxyPassword.empty()) return false;
    platform::Network& net = platform::Net();
    return net.InternetSetOption(request, platform::INTERNET_OPTION_PROXY_USERNAME, wc.ProxyUserID) &&
           net.InternetSetOption(request, platform::INTERNET_OPTION_PROXY_PASSWORD, wc.ProxyPassword) &&
           net.HttpSendRequest(request);
}

// Basic credentials and the one place (scheme, host and port) they were given for: a
// redirect elsewhere goes out without them. Through a proxy, an https request's added
// headers are copied into the CONNECT that opens its tunnel (Wine), where the proxy reads
// them: there they go only after the server asked (401) over a tunnel that stays open, so
// that the request with them travels inside it.
struct Credentials {
    std::string user, password, origin;
    bool tunnelOpen = false;  // a 401 came through a proxy's tunnel that stays open
    bool Have() const { return !user.empty() || !password.empty(); }
    std::string HeaderFor(const std::string& url, bool viaProxy) const {
        if (!Have() || UrlOrigin(url) != origin) return std::string();
        if (viaProxy && UpperCase(url.substr(0, 8)) == "HTTPS://" && !tunnelOpen) return std::string();
        return "Authorization: Basic " + EncodeBase64(user + ":" + password) + "\r\n\r\n";
    }
};

// Whether the connection an answer came on stays open for the next request.
bool StaysOpen(platform::HINTERNET request) {
    std::string version, connection;
    if (!QueryText(request, platform::HTTP_QUERY_VERSION, version) || UpperCase(version) != "HTTP/1.1")
        return false;
    return !QueryText(request, platform::HTTP_QUERY_CONNECTION, connection) ||
           LowerCase(connection).find("close") == std::string::npos;
}

// Reads what is left of an answer's body (a short error page), so that its connection goes
// back for the next request. False when it is more than a page or the read failed.
bool Drain(platform::HINTERNET request) {
    unsigned char buffer[4096];
    for (uint32_t total = 0; total <= 65536;) {
        uint32_t n = 0;
        if (!platform::Net().InternetReadFile(request, buffer, sizeof buffer, &n)) return false;
        if (n == 0) return true;
        total += n;
    }
    return false;
}

// The validator the server sent with this answer (see ResumeValidator).
std::string ValidatorOf(platform::HINTERNET request) {
    std::string etag, lastModified;
    if (!QueryText(request, platform::HTTP_QUERY_ETAG, etag)) etag.clear();
    if (!QueryText(request, platform::HTTP_QUERY_LAST_MODIFIED, lastModified)) lastModified.clear();
    return ResumeValidator(etag, lastModified);
}

// A 206 is taken only as the rest that was asked for: from `offset` to the end of the file
// the part was begun on, with the same validator and a body of exactly that length.
bool IsTheRest(platform::HINTERNET request, uint64_t offset, const PartialKey& key) {
    std::string text;
    ContentRange range;
    if (!QueryText(request, platform::HTTP_QUERY_CONTENT_RANGE, text) ||
        !ParseContentRange(text, range))
        return false;
    uint64_t length = 0;
    if (QueryLength(request, length) && length != range.last - range.first + 1) return false;
    return range.first == offset && range.total == key.length && range.last + 1 == key.length &&
           ValidatorOf(request) == key.validator;
}

// The pause before another try; the user may cancel in it.
void PauseBeforeRetry(Run& run) {
    for (uint32_t waited = 0; waited < kRetryPauseMs && !run.Cancelled(); waited += 50) {
        Application->ProcessMessages();
        platform::Sys().Sleep(50);
    }
}

// Opens the job's URL: redirects followed here, a 401 answered with the login dialog when
// the job allows it, a 407 with the proxy's credentials. False (reported) when no answer
// with a status came; the dialog's cancel is not reported.
bool OpenRequest(Run& run, const Job& job, Credentials& credentials, uint32_t flags,
                 const std::string& extraHeaders, platform::InetHandle& request,
                 uint32_t& status) {
    platform::Network& net = platform::Net();
    TWebCopy& wc = run.wc;
    std::string url = job.URL;
    const bool viaProxy = !wc.Proxy.empty();
    int redirects = 0;
    for (;;) {
        const std::string header = extraHeaders + credentials.HeaderFor(url, viaProxy);
        request = net.InternetOpenUrl(run.Session.get(), url,
                                      header.empty() ? nullptr : header.c_str(),
                                      static_cast<uint32_t>(header.size()), flags, 0);
        Application->ProcessMessages();
        if (!request) {
            if (wc.OnURLNotFound && !run.Cancelled()) wc.OnURLNotFound(&wc, url);
            return false;
        }
        // A response without a readable status is no answer to go on with.
        bool statusRead = QueryNumber(request.get(), platform::HTTP_QUERY_STATUS_CODE, status);
        if (statusRead && status == 407 && AnswerProxy(request.get(), wc))
            statusRead = QueryNumber(request.get(), platform::HTTP_QUERY_STATUS_CODE, status);
        if (!statusRead) {
            const uint32_t code = platform::Sys().GetLastError();
            request.reset();
            run.ReportSystemError(code);
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
        // Credentials held back from a tunnel go once it is open and the server asked.
        if (status == 401 && viaProxy && credentials.Have() && !credentials.tunnelOpen &&
            credentials.HeaderFor(url, false).size() > 0) {
            if (StaysOpen(request.get()) && Drain(request.get())) {
                credentials.tunnelOpen = true;
                request.reset();
                continue;
            }
        }
        if (status != 401 || job.Authenticate == waNever) return true;
        // What is typed is for the server that asked.
        if (!ShowLoginDialog("Connect to " + ServerFromUrl(url), credentials.user,
                             credentials.password))
            return false;
        credentials.origin = UrlOrigin(url);
        credentials.tunnelOpen = false;
        if (viaProxy && StaysOpen(request.get()) && Drain(request.get())) credentials.tunnelOpen = true;
        request.reset();
    }
}

// The date check of a job with CopyNewerOnly or an OnFileDateCheck handler: false when the
// download is not to go on (reported as the events say; the request is released then).
bool DateAllows(Run& run, Job& job, platform::InetHandle& request, const std::string& urlFileName) {
    TWebCopy& wc = run.wc;
    if (!job.CopyNewerOnly && !wc.OnFileDateCheck) return true;
    const TDateTime serverDate = ServerDate(request.get());
    if (wc.OnFileDateCheck) {
        job.FileDate = serverDate;
        bool allow = true;
        wc.OnFileDateCheck(&wc, job.Index, serverDate, allow);
        if (!allow) request.reset();
        return allow;
    }
    const bool newer = serverDate > job.FileDate;
    job.FileDate = serverDate;
    if (newer) return true;
    job.NoNewerFile = true;
    request.reset();
    if (wc.OnNoNewFileFound) wc.OnNoNewFileFound(&wc, urlFileName, serverDate, serverDate);
    return false;
}

// One answer's body as it is about to be received: the key a part of it is tied to, the
// length it must have, and whether a kept part grows with it.
struct Answer {
    bool announced = false;  // the answer stated its length
    PartialKey key;
    uint64_t expected = 0;   // body bytes the answer owes (0: not known)
    bool resumable = false;
};

// How one try ended.
enum class Try { Done, Failed, Again };

// One download across its tries: the credentials, the kept part, the target once an answer
// is taken, and the offset the next try asks from.
class HttpFetch {
public:
    HttpFetch(Run& run, Job& job)
        : run_(run), job_(job), wc_(run.wc), plainUrl_(UrlWithoutCredentials(job.URL)),
          urlFileName_(FileNameFromPath(plainUrl_)), pace_(run.wc, run.StallLimitMs()),
          credentials_{job.HTTPUserID, job.HTTPPassword, UrlOrigin(job.URL)},
          // The name comes from the job, never from where a redirect led. A kept part lies
          // beside this name even when a unique name is written in the end.
          planned_(JoinPath(job.TargetDir,
                            job.TargetFilename.empty() ? urlFileName_ : job.TargetFilename)),
          partial_(planned_, plainUrl_, job.ResumeKey) {}

    // The file line, the login a job with waAlways asks for first, and the part a resumed
    // job goes on from. False when the login was refused.
    bool Begin() {
        run_.SetFileLine(urlFileName_, wc_.DlgFromServerLabel, HostFromUrl(job_.URL), wc_.ShowServer);
        Application->ProcessMessages();
        if (job_.Authenticate == waAlways &&
            (credentials_.user.empty() || credentials_.password.empty()) &&
            !ShowLoginDialog("Connect to " + ServerFromUrl(job_.URL), credentials_.user,
                             credentials_.password))
            return false;
        offset_ = job_.Resume ? partial_.Load() : 0;
        return true;
    }

    Try Attempt(bool mayRetry) {
        const std::string range =
            offset_ > 0 ? RangeHeaders(offset_, partial_.Key()->validator) : std::string();
        platform::InetHandle request;
        uint32_t status = 0;
        if (!OpenRequest(run_, job_, credentials_, Flags(), range, request, status)) return Try::Failed;
        if (!Accepted(request, status) || !ChooseTarget(request)) return Try::Failed;
        Answer answer = Read(request.get());
        TargetFile file(target_);
        if (!Open(file, answer)) return Try::Failed;
        return Receive(request, file, answer, mayRetry);
    }

private:
    // Redirects are followed here, so that credentials never go along to another place.
    uint32_t Flags() const {
        uint32_t flags = platform::INTERNET_FLAG_RELOAD | platform::INTERNET_FLAG_NO_CACHE_WRITE |
                         platform::INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (wc_.HTTPKeepAliveAuthentication) flags |= platform::INTERNET_FLAG_KEEP_CONNECTION;
        return flags;
    }

    // Only the rest that was asked for is appended; a 200 is the whole file anew, and any
    // other answer to a range fails. A part the answer cannot be trusted about goes.
    bool Accepted(platform::InetHandle& request, uint32_t status) {
        bool accepted = status < 300 && status != 206;
        if (offset_ > 0) {
            accepted = status == 200 || (status == 206 && IsTheRest(request.get(), offset_, *partial_.Key()));
            if (status == 200 || (!accepted && (status < 300 || status == 416))) {
                partial_.Discard();
                offset_ = 0;
            }
        }
        if (accepted) return true;
        request.reset();
        run_.ReportHttpStatus(status);
        return false;
    }

    // The first answer that goes on to a body settles the date check and the target.
    bool ChooseTarget(platform::InetHandle& request) {
        if (!target_.empty()) return true;
        if (!DateAllows(run_, job_, request, urlFileName_)) return false;
        target_ = planned_;
        run_.LastTargetFile = target_;
        run_.LastTargetDir = job_.TargetDir;
        return run_.PrepareTarget(target_);
    }

    Answer Read(platform::HINTERNET request) const {
        Answer a;
        uint64_t contentLength = 0;
        a.announced = QueryLength(request, contentLength);
        // Without a validator and a length a part could not be told from another file's.
        a.key = offset_ > 0 ? *partial_.Key()
                            : PartialKey{plainUrl_, job_.ResumeKey, ValidatorOf(request), contentLength};
        a.expected = offset_ > 0 ? a.key.length - offset_ : contentLength;
        a.resumable = job_.Resume && !a.key.validator.empty() && a.key.length > 0;
        return a;
    }

    // The file the body goes into: the kept part from its end, a new part, or a temporary
    // file beside the target.
    bool Open(TargetFile& file, Answer& answer) {
        bool created;
        if (offset_ > 0) {
            created = file.CreateAt(partial_.Path(), offset_);
        } else {
            answer.resumable = answer.resumable && partial_.Begin(answer.key);
            created = answer.resumable ? file.CreateAt(partial_.Path(), 0) : file.Create();
        }
        if (created) return true;
        if (answer.resumable) partial_.Discard();
        run_.ReportError(ecCreateTarget, [this] { return TextCreateFile + target_; });
        return false;
    }

    Try Receive(platform::InetHandle& request, TargetFile& file, const Answer& answer, bool mayRetry) {
        platform::Net().SetStallLimit(request.get(), run_.StallLimitMs());
        uint32_t readError = 0;
        bool failed = false;
        const ReceivedBody body = ReceiveBody(
            run_, file,
            [this, &request, &readError, &failed](unsigned char* buffer, uint32_t size, uint32_t& got) {
                got = 0;
                if (failed) return false;
                if (ReadBlock(request.get(), buffer, size, got, pace_)) return true;
                readError = platform::Sys().GetLastError();
                failed = true;
                return got > 0;  // what came before the failure is kept; the next read fails
            },
            ProgressValue(answer.key.length > 0 ? answer.key.length : answer.expected),
            wc_.DlgDwnload, offset_);
        request.reset();
        return Judge(file, answer, body, readError, mayRetry);
    }

    // Only a whole body takes the target's place; on every other path the old file stays.
    Try Judge(TargetFile& file, const Answer& answer, const ReceivedBody& body, uint32_t readError,
              bool mayRetry) {
        const auto discard = [&] {  // neither the body nor its part stays
            file.Discard();
            if (answer.resumable) partial_.Discard();
        };
        const auto readFailed = [&](uint32_t error, const char* text) {
            discard();
            run_.ReportError(ecReadSource, [this, text] { return text + plainUrl_; }, error);
            return Try::Failed;
        };
        if (body.writeFailed) {
            discard();
            run_.ReportError(ecWriteTarget, [this] { return TextWriteTarget + target_; });
            return Try::Failed;
        }
        if (run_.Cancelled()) {
            discard();
            return Try::Failed;
        }
        // A length announced is the length: a body that runs past it is no such file either.
        if (answer.announced && offset_ == 0 && body.bytes > answer.expected && !body.readFailed)
            return readFailed(0, TextReadSource);
        if (body.readFailed || (answer.expected > 0 && body.bytes < answer.expected))
            return BrokeOff(file, answer, body, readError, mayRetry);
        // A rest without a length that runs past the file's end is no part of that file.
        if (answer.resumable && offset_ + body.bytes != answer.key.length) return readFailed(0, TextReadSource);
        if (body.bytes == 0) {  // an empty body: nothing arrived to put in place
            discard();
            return Try::Failed;
        }
        // Without a length, a cut reads as the end: such a body is not known to be whole.
        if (!answer.announced && offset_ == 0 && !job_.AllowUnconfirmedLength)
            return readFailed(0, TextUnconfirmedLength);
        return Commit(file, answer);
    }

    // A body that breaks off is not a download: the caller would take the part for the whole.
    // With resume the part is kept for the next try, and a break that is not a stall is
    // tried again from there at once.
    Try BrokeOff(TargetFile& file, const Answer& answer, const ReceivedBody& body, uint32_t readError,
                 bool mayRetry) {
        const bool kept = answer.resumable && offset_ + body.bytes > 0 && file.Keep();
        if (kept) {
            offset_ += body.bytes;
        } else {
            file.Discard();
            if (answer.resumable) partial_.Discard();
            offset_ = 0;
        }
        const bool stalled = body.readFailed && readError == platform::ERROR_INTERNET_TIMEOUT_;
        if (kept && !stalled && mayRetry) {
            PauseBeforeRetry(run_);
            if (!run_.Cancelled()) return Try::Again;
            partial_.Discard();
            return Try::Failed;
        }
        run_.ReportError(ecReadSource, [this] { return TextReadSource + plainUrl_; }, readError);
        return Try::Failed;
    }

    Try Commit(TargetFile& file, const Answer& answer) {
        if (!file.Commit()) {
            if (answer.resumable) partial_.Discard();
            run_.ReportError(ecWriteTarget, [this] { return TextWriteTarget + target_; });
            return Try::Failed;
        }
        if (answer.resumable) partial_.Finish();
        return Try::Done;
    }

    Run& run_;
    Job& job_;
    TWebCopy& wc_;
    // The job's URL as it may be shown or stored: credentials written into it stay in memory.
    const std::string plainUrl_, urlFileName_;
    Pace pace_;
    Credentials credentials_;
    const std::string planned_;
    Partial partial_;
    uint64_t offset_ = 0;  // bytes of the kept part the next try goes on from
    std::string target_;   // chosen on the first answer that goes on to the body
};

}  // namespace

bool HttpDownload(Run& run, Job& job) {
    job.NoNewerFile = false;
    HttpFetch fetch(run, job);
    if (!fetch.Begin()) return false;
    for (int attempt = 0;; ++attempt) {
        const Try result = fetch.Attempt(attempt < kRetries);
        if (result != Try::Again) return result == Try::Done;
    }
}

}  // namespace webcopy
