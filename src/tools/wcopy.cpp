// wcopy: runs one TWebCopy configured from the command line and prints every event it
// receives, one line each. Used by hand, by the end-to-end tests and by the benchmark.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/DateTime.h"
#include "framework/Exceptions.h"
#include "platform/win32/SystemLibraries.h"
#include "webcopy/WebCopy.h"
#include "webcopy/WebCopyHelpers.h"

// Only the process clock is needed; without GDI and USER nothing clashes with the framework.
#define WIN32_LEAN_AND_MEAN
#define NOGDI
#define NOUSER
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

const char kUsage[] =
    "usage: wcopy [options] JOB [JOB ...]\n"
    "\n"
    "Each job starts with its kind and its URL or path; the job options after it apply to it.\n"
    "  --http URL              HTTP download          --http-upload URL   HTTP upload\n"
    "  --copy PATH             local or share copy    --ftp PATH          FTP download\n"
    "  --ftp-upload FILE       FTP upload             --ftp-delete NAME   FTP deletion\n"
    "  --multi-ftp MASK        FTP multi download     --multi-ftp-upload MASK\n"
    "  --ftp-list MASK         FTP listing: one line \"Entry JOB NAME SIZE YYYY-MM-DD HH:MM:SS\"\n"
    "                          per entry after the run\n"
    "FTP jobs need --host; --port (21), --user and --password (anonymous unless both are\n"
    "given) and the component's --passive apply. Remote paths are relative to the login folder:\n"
    "  --ftp DIR/FILE --to LOCALDIR [--name FILE]\n"
    "  --ftp-upload LOCALFILE --to REMOTEDIR [--name FILE]  (REMOTEDIR made part by part)\n"
    "  --multi-ftp DIR/MASK --to LOCALDIR      --multi-ftp-upload LOCALDIR\\MASK --to REMOTEDIR\n"
    "  --ftp-list DIR/MASK                     --ftp-delete FILE --to REMOTEDIR [--name FILE]\n"
    "Job options:\n"
    "  --to DIR  --name FILE  --newer-than 'YYYY-MM-DD[ HH:MM:SS]'  --auth never|always|auto\n"
    "  --user U  --password P (HTTP credentials; FTP or share account for the other kinds)\n"
    "  --host H  --port N  --put  --inactive\n"
    "  --resume                an HTTP download that breaks off is kept and continued (twice\n"
    "                          in this run, and by the next run of the same download)\n"
    "  --allow-unconfirmed-length  an HTTP body without a length (chunked, or ended by the\n"
    "                          server's close), which a cut cannot be told from, is taken\n"
    "                          (else it fails and the old target stays)\n"
    "  --copy PATH copies to DIR (--to), named FILE (--name) or as the source is; with\n"
    "  --host \\\\SERVER\\SHARE, PATH is inside that share, which is connected for the copy\n"
    "  with --user and --password (a share connected already is used and left connected).\n"
    "  --http-upload URL sends the local file DIR\\FILE (--to, --name; FILE defaults to the\n"
    "  URL's file name) as the body of a POST, or of a PUT with --put, to the URL's host,\n"
    "  port and scheme (https over TLS).\n"
    "Component options:\n"
    "  --no-dialog --not-on-top --always-on-top --no-filename --no-server --show-time\n"
    "  --show-elapsed --show-completion --open-file --open-folder --no-cancel --close-button\n"
    "  --unique --keep-alive-auth --passive --agent A --proxy P --proxy-user U\n"
    "  --proxy-password P --caption TEXT\n"
    "  --stall-timeout S       every wait for a server (connect, greeting, each reply, listing,\n"
    "                          data, final reply, close) fails after S seconds without a byte\n"
    "                          (30; 0: never); Cancel ends any wait at once\n"
    "Event handling:\n"
    "  --refuse-overwrite      OnCopyOverWrite answers false\n"
    "  --date-check allow|refuse  assign OnFileDateCheck with that answer\n"
    "  --verbose-progress      one line per OnCopyProgress (else one summary line)\n"
    "  --cpu-times             print the CPU and wall time that Execute took, and the wall\n"
    "                          time of each job from OnFileStart to OnFileDone\n"
    "Exit code 0 when every active job is Done and no failure was reported; 1 when a job is\n"
    "not Done or an event reported a failure (OnError, OnURLNotFound, OnConnectError,\n"
    "OnRemovedFileFailed), and the last line is then \"Failed jobs: N ...\"; 2 for a usage\n"
    "error (a --port outside 1 to 65535 among them).\n";

void Line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);  // readers follow the run as it happens
}

// Message texts of the network library end in a line break; one event is one line.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string DateText(TDateTime dt) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDate(dt, y, mo, d);
    DecodeTime(dt, h, mi, s, ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
}

bool ParseDate(const std::string& text, TDateTime& out) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = ' ';
    const int n = std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (n != 3 && n != 7) return false;
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(y, mo, d, date) || !TryEncodeTime(h, mi, s, 0, time)) return false;
    out = date + time;
    return true;
}

struct Options {
    bool verboseProgress = false;
    bool cpuTimes = false;
    bool refuseOverwrite = false;
    int dateCheck = -1;  // -1: no handler, 0: refuse, 1: allow
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "wcopy: %s\n\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

// The kinds whose --user and --password are an account rather than HTTP credentials.
bool IsFtpKind(TWebCopyProtocol p) { return p != wpHttp && p != wpHttpUpload; }
bool NeedsHost(TWebCopyProtocol p) { return IsFtpKind(p) && p != wpFile; }

// The command line as it is read: the argument at hand, and the job that job options apply to.
class Args {
public:
    Args(int argc, char** argv) : argc_(argc), argv_(argv) {}

    bool Next() {
        if (++i_ >= argc_) return false;
        arg = argv_[i_];
        return true;
    }
    // The argument after the option.
    std::string Value() {
        if (i_ + 1 >= argc_) Usage(arg + " needs a value");
        return argv_[++i_];
    }
    // A job option given before any job says which job it belongs after.
    TWebCopyItem& Job(const char* kind = nullptr) const {
        if (!job)
            Usage(arg + " must follow the job it applies to: " +
                  (kind ? std::string(kind) + " URL " + arg : "--http URL, --ftp PATH, ... then " + arg));
        return *job;
    }

    std::string arg;
    TWebCopyItem* job = nullptr;

private:
    int argc_;
    char** argv_;
    int i_ = 0;
};

// A job kind starts a new job with its URL or path.
bool NewJob(TWebCopy& wc, Args& args) {
    static const struct {
        const char* flag;
        TWebCopyProtocol protocol;
    } kinds[] = {{"--http", wpHttp},         {"--http-upload", wpHttpUpload},
                 {"--copy", wpFile},         {"--ftp", wpFtp},
                 {"--ftp-upload", wpFtpUpload}, {"--multi-ftp", wpMultiFtp},
                 {"--multi-ftp-upload", wpMultiFtpUpload}, {"--ftp-delete", wpFtpDelete},
                 {"--ftp-list", wpFtpList}};
    for (const auto& k : kinds)
        if (args.arg == k.flag) {
            args.job = wc.Items.Add();
            args.job->Protocol = k.protocol;
            args.job->URL = args.Value();
            return true;
        }
    return false;
}

// The component's switches and texts, and the tool's own switches.
bool Setting(TWebCopy& wc, Options& opt, Args& args) {
    const struct {
        const char* name;
        bool* target;
        bool value;
    } flags[] = {{"--no-dialog", &wc.ShowDialog, false},
                 {"--not-on-top", &wc.ShowDialogOnTop, false},
                 {"--always-on-top", &wc.AlwaysOnTop, true},
                 {"--no-filename", &wc.ShowFileName, false},
                 {"--no-server", &wc.ShowServer, false},
                 {"--show-time", &wc.ShowTime, true},
                 {"--show-elapsed", &wc.ShowElapsedTime, true},
                 {"--show-completion", &wc.ShowCompletion, true},
                 {"--open-file", &wc.ShowOpenFile, true},
                 {"--open-folder", &wc.ShowOpenFolder, true},
                 {"--no-cancel", &wc.DlgShowCancel, false},
                 {"--close-button", &wc.DlgShowCloseBtn, true},
                 {"--unique", &wc.CreateUniqueFilenames, true},
                 {"--keep-alive-auth", &wc.HTTPKeepAliveAuthentication, true},
                 {"--passive", &wc.FTPPassive, true},
                 {"--verbose-progress", &opt.verboseProgress, true},
                 {"--cpu-times", &opt.cpuTimes, true},
                 {"--refuse-overwrite", &opt.refuseOverwrite, true}};
    const struct {
        const char* name;
        std::string* target;
    } texts[] = {{"--agent", &wc.Agent},
                 {"--proxy", &wc.Proxy},
                 {"--proxy-user", &wc.ProxyUserID},
                 {"--proxy-password", &wc.ProxyPassword},
                 {"--caption", &wc.DlgCaption}};
    for (const auto& f : flags)
        if (args.arg == f.name) {
            *f.target = f.value;
            return true;
        }
    for (const auto& t : texts)
        if (args.arg == t.name) {
            *t.target = args.Value();
            return true;
        }
    if (args.arg == "--stall-timeout") {
        const std::string text = args.Value();
        if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
            Usage("--stall-timeout takes seconds");
        wc.StallTimeout = std::atoi(text.c_str());
    } else if (args.arg == "--date-check") {
        const std::string answer = args.Value();
        if (answer != "allow" && answer != "refuse") Usage("--date-check takes allow or refuse");
        opt.dateCheck = answer == "allow" ? 1 : 0;
    } else {
        return false;
    }
    return true;
}

// Where a job's file goes and which of it is taken.
bool JobTarget(Args& args) {
    const std::string& arg = args.arg;
    if (arg == "--to") {
        args.Job().TargetDir = args.Value();
    } else if (arg == "--name") {
        args.Job().TargetFilename = args.Value();
    } else if (arg == "--newer-than") {
        TWebCopyItem& j = args.Job();
        const std::string text = args.Value();
        if (!ParseDate(text, j.FileDate)) Usage("bad date: " + text);
        j.CopyNewerOnly = true;
    } else if (arg == "--put") {
        args.Job().HTTPCommand = hcPut;
    } else if (arg == "--inactive") {
        args.Job().Active = false;
    } else if (arg == "--resume") {
        TWebCopyItem& j = args.Job("--http");
        if (j.Protocol != wpHttp) Usage("--resume applies to HTTP downloads");
        j.Resume = true;
    } else if (arg == "--allow-unconfirmed-length") {
        TWebCopyItem& j = args.Job("--http");
        if (j.Protocol != wpHttp) Usage("--allow-unconfirmed-length applies to HTTP downloads");
        j.AllowUnconfirmedLength = true;
    } else {
        return false;
    }
    return true;
}

// The server of a job and the account on it.
bool JobServer(Args& args) {
    const std::string& arg = args.arg;
    if (arg == "--auth") {
        TWebCopyItem& j = args.Job();
        const std::string mode = args.Value();
        if (mode == "never") j.Authenticate = waNever;
        else if (mode == "always") j.Authenticate = waAlways;
        else if (mode == "auto") j.Authenticate = waAuto;
        else Usage("--auth takes never, always or auto");
    } else if (arg == "--user") {
        TWebCopyItem& j = args.Job();
        (IsFtpKind(j.Protocol) ? j.FTPUserID : j.HTTPUserID) = args.Value();
    } else if (arg == "--password") {
        TWebCopyItem& j = args.Job();
        (IsFtpKind(j.Protocol) ? j.FTPPassword : j.HTTPPassword) = args.Value();
    } else if (arg == "--host") {
        args.Job().FTPHost = args.Value();
    } else if (arg == "--port") {
        TWebCopyItem& j = args.Job();
        const std::string text = args.Value();
        // Strictly a port: 113682 must not become 48146 on the way to the connect call.
        const bool digits = !text.empty() && text.size() <= 5 &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        const int port = digits ? std::atoi(text.c_str()) : 0;
        if (port < 1 || port > 65535) Usage("--port takes 1 to 65535: " + text);
        j.FTPPort = port;
    } else {
        return false;
    }
    return true;
}

// Fills the component and the options from argv; exits with a usage error when they do not
// make sense.
void Configure(TWebCopy& wc, Options& opt, int argc, char** argv) {
    Args args(argc, argv);
    while (args.Next()) {
        if (args.arg == "--help" || args.arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (!NewJob(wc, args) && !Setting(wc, opt, args) && !JobTarget(args) && !JobServer(args))
            Usage("unknown argument: " + args.arg);
    }
    if (wc.Items.Count() == 0) Usage("no job given");
    for (int i = 0; i < wc.Items.Count(); ++i)
        if (NeedsHost(wc.Items[i].Protocol) && wc.Items[i].FTPHost.empty())
            Usage("the FTP job " + IntToStr(i) + " needs --host");
}

// The jobs a failure was reported for (OnError, OnURLNotFound, OnConnectError,
// OnRemovedFileFailed), whether or not the component counts them as Done.
struct FailureLog {
    int current = -1;  // the job between OnFileStart and OnFileDone
    std::set<int> failed;
    void Mark() {
        if (current >= 0) failed.insert(current);
    }
};

struct ProgressSummary {
    long long count = 0;
    int fileidx = 0;
    uint32_t size = 0, totsize = 0;
};

double Seconds();

// Wall time of each job from OnFileStart to OnFileDone (the transfer, without the dialog's
// creation and the session's opening).
struct JobClock {
    std::vector<double> start, done;
};

void AssignEvents(TWebCopy& wc, const Options& opt, ProgressSummary& progress, JobClock& clock,
                  FailureLog& failures) {
    clock.start.assign(static_cast<size_t>(wc.Items.Count()), -1);
    clock.done = clock.start;
    wc.OnBeforeDialogShow = [](TObject*, TForm*) { Line("OnBeforeDialogShow"); };
    wc.OnFileStart = [&clock, &failures](TObject*, int idx) {
        failures.current = idx;
        if (idx >= 0 && static_cast<size_t>(idx) < clock.start.size()) clock.start[idx] = Seconds();
        Line("OnFileStart " + IntToStr(idx));
    };
    wc.OnFileDone = [&clock](TObject*, int idx) {
        if (idx >= 0 && static_cast<size_t>(idx) < clock.done.size()) clock.done[idx] = Seconds();
        Line("OnFileDone " + IntToStr(idx));
    };
    wc.OnCopyDone = [](TObject*) { Line("OnCopyDone"); };
    wc.OnCopyCancel = [](TObject*) { Line("OnCopyCancel"); };
    wc.OnCopyProgress = [&opt, &progress](TObject*, int fileidx, uint32_t size, uint32_t totsize) {
        ++progress.count;
        progress.fileidx = fileidx;
        progress.size = size;
        progress.totsize = totsize;
        if (opt.verboseProgress)
            Line(Format("OnCopyProgress %d %u %u", fileidx, static_cast<unsigned>(size),
                        static_cast<unsigned>(totsize)));
    };
    wc.OnCopyOverWrite = [&opt](TObject*, const std::string& file, bool& allow) {
        allow = !opt.refuseOverwrite;
        Line("OnCopyOverWrite " + file);
    };
    if (opt.dateCheck >= 0)
        wc.OnFileDateCheck = [&opt](TObject*, int idx, TDateTime date, bool& allow) {
            allow = opt.dateCheck == 1;
            Line("OnFileDateCheck " + IntToStr(idx) + " " + DateText(date));
        };
    wc.OnNoNewFileFound = [](TObject*, const std::string& file, TDateTime cur, TDateTime found) {
        Line("OnNoNewFileFound " + file + " " + DateText(cur) + " " + DateText(found));
    };
    wc.OnError = [&failures](TObject*, int code) {
        failures.Mark();
        Line("OnError " + IntToStr(code));
    };
    wc.OnErrorInfo = [](TObject*, int code, const std::string& info) {
        Line("OnErrorInfo " + IntToStr(code) + " " + OneLine(info));
    };
    wc.OnConnectError = [&failures](TObject*) {
        failures.Mark();
        Line("OnConnectError");
    };
    wc.OnURLNotFound = [&failures](TObject*, const std::string& url) {
        failures.Mark();
        // A URL's credentials are never printed; FTP and local paths are shown as given.
        Line("OnURLNotFound " + (url.find("://") != std::string::npos ? UrlWithoutCredentials(url) : url));
    };
    wc.OnMultiFTPFileDone = [](TObject*, const std::string& name) {
        Line("OnMultiFTPFileDone " + name);
    };
    wc.OnRemovedFile = [](TObject*, int idx) { Line("OnRemovedFile " + IntToStr(idx)); };
    wc.OnRemovedFileFailed = [&failures](TObject*, int idx) {
        failures.Mark();
        Line("OnRemovedFileFailed " + IntToStr(idx));
    };
}

double Seconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Seconds(const FILETIME& ft) {
    return static_cast<double>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) |
                               ft.dwLowDateTime) / 1e7;
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

// One line per entry of every listing job: name, size and date as the server listed them.
void PrintListings(TWebCopy& wc) {
    for (int i = 0; i < wc.Items.Count(); ++i) {
        const TWebCopyItem& item = wc.Items[i];
        if (item.Protocol != wpFtpList || !item.FileDetails) continue;
        for (int e = 0; e < item.FileDetails->Count(); ++e) {
            const TFileDetailItem& entry = (*item.FileDetails)[e];
            const unsigned long long size =
                (static_cast<unsigned long long>(entry.SizeHigh) << 32) | entry.SizeLow;
            std::string date = "-";
            try {
                date = DateText(FileTimeToDateTime(entry.FileTime));
            } catch (const Exception&) {
                // a time stamp outside the calendar is shown as unknown
            }
            Line("Entry " + IntToStr(i) + " " + entry.FileName + " " + Format("%llu", size) + " " +
                 date);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    RestrictLibrarySearchToSystemFolder();
    Application = new TApplication;
    Application->Initialize();

    TWebCopy* wc = new TWebCopy(Application);
    Options opt;
    Configure(*wc, opt, argc, argv);
    ProgressSummary progress;
    JobClock clock;
    FailureLog failures;
    AssignEvents(*wc, opt, progress, clock, failures);

    const double cpuBefore = CpuSeconds();
    const double start = Seconds();
    wc->Execute();
    const double wall = Seconds() - start;
    const double cpu = CpuSeconds() - cpuBefore;

    if (!opt.verboseProgress && progress.count > 0)
        Line(Format("OnCopyProgress x%lld last %d %u %u", progress.count, progress.fileidx,
                    static_cast<unsigned>(progress.size), static_cast<unsigned>(progress.totsize)));
    if (opt.cpuTimes) {
        Line(Format("ExecuteTimes cpu %.3f wall %.3f", cpu, wall));
        for (size_t i = 0; i < clock.start.size(); ++i)
            if (clock.start[i] >= 0 && clock.done[i] >= 0)
                Line(Format("JobTimes %d wall %.3f", static_cast<int>(i),
                            clock.done[i] - clock.start[i]));
    }

    PrintListings(*wc);

    std::set<int> failed = failures.failed;
    for (int i = 0; i < wc->Items.Count(); ++i) {
        const TWebCopyItem& item = wc->Items[i];
        std::string state = !item.Active ? "Inactive"
                            : item.Done  ? "Done"
                            : item.NoNewerFile ? "NoNewerFile"
                                               : "Failed";
        if (item.Active && !item.Done) failed.insert(i);
        Line("Job " + IntToStr(i) + " " + state + " " + DateText(item.FoundFileDate));
    }

    // A dialog kept open by the open buttons stays until the user closes or uses it.
    if (wc->DialogShowing()) {
        while (wc->DialogShowing()) Application->HandleMessage();
        Line("DialogClosed");
    }

    if (!failed.empty()) {
        std::string list;
        for (int i : failed) list += " " + IntToStr(i);
        Line("Failed jobs:" + list);
    }
    delete Application;  // the component and any kept dialog go with it
    return failed.empty() ? 0 : 1;
}
