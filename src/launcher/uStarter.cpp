#include "launcher/uStarter.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "components/PBSystem.h"
#include "components/StFileOp.h"
#include "components/WinXP.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/Strings.h"
#include "launcher/ProgramStart.h"
#include "launcher/SignedUpdate.h"
#include "platform/Platform.h"
#include "signing/Sha256.h"
#include "webcopy/TargetFile.h"
#include "webcopy/WebCopy.h"
#include "webcopy/WebCopyHelpers.h"

TForm1* Form1 = nullptr;

namespace {

// The launcher's own texts (Windows-1252).
constexpr const char* kChecking = "Versionkontroll...";
constexpr const char* kFetching = "H\xe4mtar uppdatering";
constexpr const char* kStarting = "Startar ...";
constexpr const char* kProgramRunning =
    "Programmet troligen redan ig\xe5ng, vg st\xe4ng det och f\xf6rs\xf6k igen";
constexpr const char* kProgramMissing = "N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren ";
constexpr const char* kMissingSuffix = " saknas";
constexpr const char* kNotStarted = "N\xe5nting har g\xe5tt fel, ring programleverant\xf6ren";
constexpr const char* kNotStartedSuffix = " kunde inte startas";
constexpr const char* kNoUpdateUrlSuffix = " saknar uppdateringsadress";
constexpr const char* kAlreadyStarted = "Ett program \xe4r redan startat. St\xe4ng och f\xf6rs\xf6k igen.";
constexpr const char* kDefaultStamp = "2001-01-01 00:00:00";
constexpr unsigned kShowMinimized = 2;  // SW_SHOWMINIMIZED
// Limits of the downloads: the small files whole within this, the program at this rate at
// least (per stall window).
constexpr int kSmallFileSeconds = 30;
constexpr uint32_t kProgramMinBytes = 1024;
constexpr uint64_t kMaxSignatureSize = 4096;

// Unlike the framework's, a "/" is part of the name here: the launcher's names come from a
// Windows path.
std::string NameAfterBackslashOrColon(const std::string& path) {
    const auto cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Downloads of the new program that launchers which did not end left behind (N.<id>.bin and
// their partial files). Called only while no other launcher of the program runs.
void RemoveLeftDownloads(const StarterNames& n) {
    auto& fs = platform::Fs();
    std::vector<platform::FindData> found;
    if (!fs.FindFiles(n.folder + n.baseName + ".*.bin*", found)) return;
    for (const auto& entry : found) {
        const std::string rest = entry.cFileName.substr(std::min(entry.cFileName.size(), n.baseName.size() + 1));
        const size_t digits = rest.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string::npos || rest.compare(digits, 4, ".bin") != 0) continue;
        // The download itself, or its partial file (".part" and a number, as TargetFile names it).
        const std::string tail = rest.substr(digits + 4);
        if (!tail.empty() && (tail.compare(0, 5, ".part") != 0 ||
                              tail.find_first_not_of("0123456789", 5) != std::string::npos))
            continue;
        if (!(entry.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_))
            fs.DeleteFile(n.folder + entry.cFileName);
    }
}

// Downloads and kept parts of other releases than the one named `keep`: never continued,
// so they would only lie there.
void RemoveOtherReleaseDownloads(const StarterNames& n, const std::string& keep) {
    auto& fs = platform::Fs();
    std::vector<platform::FindData> found;
    if (!fs.FindFiles(n.folder + n.baseName + ".sha256-*", found)) return;
    for (const auto& entry : found) {
        if (entry.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY_) continue;
        if (entry.cFileName.compare(0, keep.size(), keep) == 0) continue;
        fs.DeleteFile(n.folder + entry.cFileName);
    }
}

// Waits for any other launcher of this program to end, at most kLauncherWaitMs, keeping the
// splash painted; the mutex returned is held until it goes (null when it could not be made).
std::unique_ptr<platform::NamedMutex> WaitForOtherLaunchers(const StarterNames& n) {
    auto& sys = platform::Sys();
    auto mutex = sys.CreateNamedMutex(LauncherMutexName(n.folder, n.baseName));
    if (!mutex) return mutex;
    const uint32_t start = sys.GetTickCount();
    bool held = false;
    while (!(held = mutex->Wait(100)) && sys.GetTickCount() - start < kLauncherWaitMs)
        Application->ProcessMessages();
    if (held) RemoveLeftDownloads(n);
    return mutex;
}

// Replaces N.dat by `bytes` in one step.
bool RecordStamp(const std::string& localStamp, const std::string& bytes) {
    webcopy::TargetFile file(localStamp);
    return file.Create() && file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) &&
           file.Commit();
}

// The launcher's messages about one file: a head, the path on a line of its own, a tail.
std::string PathMessage(const char* head, const std::string& path, const char* tail) {
    return head + ("\r\n" + path) + tail;
}

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The log's outcome for a downloaded program that was checked.
const char* CheckOutcome(ProgramCheck check) {
    switch (check) {
        case ProgramCheck::Matches: return "";
        case ProgramCheck::NoLength: return "refused: without length";
        case ProgramCheck::SizeMismatch: return "refused: size mismatch";
        case ProgramCheck::HashMismatch: return "refused: hash mismatch";
        case ProgramCheck::NotAProgram: return "refused: not a Windows program";
        case ProgramCheck::Unreadable: break;
    }
    return "failed: download unreadable";
}

// The message of the error being handled, for the log.
std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

std::string LauncherMutexName(const std::string& folder, const std::string& baseName) {
    // Object names allow no backslash and are short: the folder goes in as a digest.
    std::string key = folder + baseName;
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return "Brakven.Starter." + signing::Sha256Hex(key);
}

std::string ReleaseProgramName(const std::string& baseName, const std::string& sha256) {
    return baseName + ".sha256-" + sha256.substr(0, 16) + ".bin";
}

bool StampIsNewer(const std::string& server, const std::string& local) {
    // char_traits<char> compares as unsigned bytes, a longer text after its beginning.
    return server > local;
}

std::string StartCommand(const std::string& program, const std::string& argumentText) {
    // Unquoted, "C:\Documents and Settings\x\..." would let WinExec start "C:\Documents.exe".
    const bool quote = program.find(' ') != std::string::npos;
    return (quote ? "\"" + program + "\"" : program) + " " + argumentText;
}

std::vector<std::string> CommandLineArguments(const std::string& commandLine) {
    const std::string text = commandLine.substr(0, commandLine.find('\0'));
    size_t i = 0;
    // The program name: quotes group blanks and are dropped; backslashes are plain text.
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlankOrTab(text[i])); ++i)
        if (text[i] == '"') quoted = !quoted;

    std::vector<std::string> args;
    for (;;) {
        while (i < text.size() && IsBlankOrTab(text[i])) ++i;
        if (i == text.size()) break;
        std::string arg;
        quoted = false;
        while (i < text.size() && (quoted || !IsBlankOrTab(text[i]))) {
            if (text[i] == '\\') {
                const size_t end = std::min(text.find_first_not_of('\\', i), text.size());
                const size_t slashes = end - i;
                i = end;
                if (i == text.size() || text[i] != '"') {
                    arg.append(slashes, '\\');
                } else {
                    // Before a quote, backslashes come in escaping pairs; an odd one makes
                    // the quote plain text, an even count leaves it grouping.
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                }
            } else if (text[i] == '"') {
                // Two quotes inside a quoted part are one plain quote.
                if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += text[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        for (; i < arg.size() && arg[i] == '\\'; ++i) ++slashes;
        if (i == arg.size()) {
            // They stand before the closing quote.
            quoted.append(slashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            quoted.append(slashes * 2 + 1, '\\');
        } else {
            quoted.append(slashes, '\\');
        }
        quoted += arg[i];
    }
    return quoted + "\"";
}

std::string ArgumentText() {
    // From the raw command line: ParamStr drops "" and does not know \" escapes, so an
    // argument would not arrive as it was given.
    std::string text;
    for (const auto& arg : CommandLineArguments(platform::Sys().CommandLine()))
        text += QuoteArgument(arg) + " ";
    return text;
}

StarterNames MakeStarterNames(const std::string& programPath, const std::string& appData,
                              const std::string& baseUrl) {
    StarterNames n;
    const std::string file = NameAfterBackslashOrColon(programPath);
    const auto dot = file.rfind('.');
    n.baseName = dot == std::string::npos ? file : file.substr(0, dot);
    n.folder = appData + "\\Brakven\\Applikationer\\";
    // Every name is a stem and an extension: the first ten in the application folder, the
    // rest on the server. A table, and one with the extensions inside it, keeps starter.exe
    // small (no string addresses to relocate).
    static const struct {
        std::string StarterNames::*member;
        char ext[10];
    } kNames[] = {
        {&StarterNames::localStamp, ".dat"}, {&StarterNames::previousStamp, ".prev.dat"},
        {&StarterNames::serverStamp, ".txt"}, {&StarterNames::newProgram, ".bin"},
        {&StarterNames::managed, ".exe"},     {&StarterNames::signature, ".sig"},
        {&StarterNames::previous, ".prev.exe"}, {&StarterNames::bad, ".bad"},
        {&StarterNames::pending, ".pending"}, {&StarterNames::log, ".log"}, {&StarterNames::stampUrl, ".txt"},
        {&StarterNames::programUrl, ".bin"},  {&StarterNames::signatureUrl, ".sig"},
        {&StarterNames::objectsUrl, ".files/"}};
    const std::string local = n.folder + n.baseName;
    const std::string remote = baseUrl + "managedfiles/" + n.baseName;
    for (const auto& name : kNames) n.*name.member = (&name < kNames + 10 ? local : remote) + name.ext;
    return n;
}

TForm1::TForm1(TComponent* owner) : TForm(owner) {
    Name = "Form1";
    BorderStyle = bsNone;
    BorderIcons = 0;
    SetCaption(" ");
    SetLeft(96);
    SetTop(650);
    SetClientSize(288, 61);
    Position = poScreenCenter;
    AlphaBlend = true;
    AlphaBlendValue = 200;
    Color = clWhite;
    PixelsPerInch = 96;
    TextHeight = 13;
    OldCreateOrder = true;
    OnPaint = [this](TObject* s) { FormPaint(s); };

    Label1 = new TLabel(this);
    Label1->Name = "Label1";
    Label1->SetParent(this);
    Label1->ParentFont = false;
    TFont labelFont;
    labelFont.Name = "Trebuchet MS";
    labelFont.Height = -19;
    labelFont.Color = 12615680;  // 0x00C08000: red 0, green 128, blue 192
    labelFont.Charset = DEFAULT_CHARSET;
    Label1->SetFont(labelFont);
    Label1->SetCaption(kChecking);
    Label1->SetBounds(69, 10, 149, 24);

    stRen = new TStFileOperation(this);
    stRen->Name = "stRen";
    stRen->SetConfirmFiles(false);
    stRen->SetOptions(FileOpOption(foAllowUndo) | FileOpOption(foFilesOnly) |
                      FileOpOption(foNoConfirmation));
    stRen->SetSimpleText("Ny version h\xe4mtas");

    WinXP1 = new TWinXP(this);
    WinXP1->Name = "WinXP1";

    PBSystemPath1 = new TPBSystemPath(this);
    PBSystemPath1->Name = "PBSystemPath1";

    Timer1 = new TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->SetEnabled(false);
    Timer1->SetInterval(1);
    Timer1->OnTimer = [this](TObject* s) { Timer1Timer(s); };

    WebCopy1 = new TWebCopy(this);
    WebCopy1->Name = "WebCopy1";
    // Its other stored values (Agent "WebCopy", the dialog texts, FTPPassive false) are the
    // component's defaults.
    WebCopy1->DlgCaption = "Downloading ...";
    TWebCopyItem* stored = WebCopy1->Items.Add();
    stored->FTPPort = 21;
    stored->HTTPCommand = hcPost;
    stored->Protocol = wpHttp;
    WebCopy1->ShowElapsedTime = true;
    // A silent server must not hold the user at the splash: the installed program starts.
    WebCopy1->StallTimeout = 20;
    WebCopy1->SetVersion("2.1.0.0");
}

void TForm1::FormPaint(TObject*) {
    if (Tag > 0) return;
    Tag = 1;
    Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer(TObject*) {
    Timer1->SetEnabled(false);
    FormShow(this);
}

void TForm1::ProcessMessages(int times) {
    for (int i = 0; i < times; ++i) Application->ProcessMessages();
}

bool TForm1::Fetch(const std::string& url, const std::string& fileName, const FetchLimits& limits,
                   uint64_t* announced, const std::string& resumeKey) {
    WebCopy1->Items.Clear();
    TWebCopyItem* item = WebCopy1->Items.Add();
    item->TargetDir = n_.folder;
    item->URL = url;
    // A program that broke off is continued by the next start, as long as it is the same
    // release (the key) and the same file on the server (its validator).
    item->Resume = !resumeKey.empty();
    item->ResumeKey = resumeKey;
    item->TargetFilename = fileName;
    WebCopy1->ShowDialog = limits.dialog;
    WebCopy1->TimeLimit = limits.timeLimit;
    WebCopy1->StallMinBytes = limits.minBytes;
    uint64_t length = 0;
    FetchResult& r = lastFetch_;
    r = FetchResult();
    const std::string plain = ScrubUrl(url);
    r.name = plain.substr(plain.find_last_of('/') + 1);
    Watch(r);
    WebCopy1->OnCopyProgress = [this, &limits, &length, &r](TObject*, int, uint32_t size, uint32_t total) {
        length = total;
        Arrived(r, size);
        // Dropped as soon as it cannot be kept: nothing past the stated size is read.
        if (limits.maxBytes > 0 && (size > limits.maxBytes || total > limits.maxBytes))
            r.tooLarge = true;
        else if (limits.needLength && total == 0)
            r.noLength = true;
        if (r.tooLarge || r.noLength) WebCopy1->Cancel();
    };
    WebCopy1->Execute();
    WebCopy1->OnCopyProgress = nullptr;
    if (announced) *announced = length;
    const bool done = WebCopy1->Items.Count() == 1 && WebCopy1->Items[0].Done && !WebCopy1->CancelRequested();
    Ended(r, done);
    log_.Fetched(r.name, r.bytes);
    return done;
}

void TForm1::Watch(FetchResult& r) {
    WebCopy1->OnCopyCancel = [&r](TObject*) { r.cancelled = true; };
}

void TForm1::Arrived(FetchResult& r, uint64_t size) {
    r.answered = true;
    r.bytes = std::max(r.bytes, size);
}

// The jobs' error records tell what ended them: a status, or a failure after one, is an
// answer; a system error before any (refused, unreachable, no status in time) is none; a
// time-out behind a read error is a limit (the time for the whole file, a silence, a window
// without enough bytes).
void TForm1::Ended(FetchResult& r, bool done) {
    WebCopy1->OnCopyCancel = nullptr;
    r.done = done;
    bool timedOut = false;
    for (int i = 0; i < WebCopy1->Items.Count(); ++i) {
        const TWebCopyErrorRecord& error = WebCopy1->Items[i].Error;
        if (error.HttpStatus) r.httpStatus = static_cast<int>(error.HttpStatus);
        if (error.HttpStatus || error.ComponentCode) r.answered = true;
        if (error.SystemError == platform::ERROR_INTERNET_TIMEOUT_) timedOut = true;
    }
    r.stalled = !done && r.answered && !r.httpStatus && !r.tooLarge && !r.noLength && timedOut;
}

std::string TForm1::FetchFailure(const FetchResult& r) {
    if (r.tooLarge) return "refused: " + r.name + " too large";
    if (r.noLength) return "refused: " + r.name + " without length";
    if (r.cancelled) return "failed: cancelled";
    if (r.httpStatus) return "failed: " + r.name + " HTTP " + std::to_string(r.httpStatus);
    if (!r.answered) return "offline";
    if (r.stalled) return "stalled";
    return "failed: " + r.name + " incomplete";
}

void TForm1::NoteNotStarted(const char* what) {
    // What kept the update from it, if anything, stays in the line.
    const std::string before = log_.Outcome();
    log_.Outcome(std::string("failed: ") + what + (before.empty() || before == "up to date" ? "" : "; " + before));
}

InstallResult TForm1::NotInstalled(const std::string& outcome) {
    log_.Outcome(outcome);
    return InstallResult::NotInstalled;
}

bool TForm1::FetchRelease(std::string& bytes, ReleaseInfo& release) {
    auto& fs = platform::Fs();
    // A stamp file left by an earlier run is no answer from the server in this one.
    fs.DeleteFile(n_.serverStamp);
    FetchLimits limits;
    limits.maxBytes = kMaxFolderManifestSize;
    limits.timeLimit = kSmallFileSeconds;
    const bool arrived = Fetch(n_.stampUrl, std::string(), limits) && fs.FileExists(n_.serverStamp);
    Application->ProcessMessages();
    // A file over the limit (a folder release's manifest has one of its own), or one whose
    // first line is no stamp (a portal's page), is no answer: nothing is downloaded or
    // recorded.
    if (arrived && ReadSmallFile(n_.serverStamp, bytes, kMaxFolderManifestSize, true) &&
        (bytes.size() <= kMaxStampFileSize || IsFolderManifestText(bytes)) && ReadRelease(bytes, release))
        return true;
    log_.Outcome(arrived ? "refused: not a stamp" : FetchFailure(lastFetch_));
    fs.DeleteFile(n_.serverStamp);
    return false;
}

bool TForm1::SignedByVendor(const std::string& txt, bool folder, ReleaseInfo& release) {
    ReleaseManifest manifest;
    FetchLimits limits;
    limits.maxBytes = kMaxSignatureSize;
    limits.timeLimit = kSmallFileSeconds;
    const auto fetch = [this, &limits](const std::string& url) {
        Fetch(url, std::string(), limits);
        ProcessMessages(5);
    };
    const bool signedOk = folder ? VerifySignature(n_, UpdatePublicKey(), txt, fetch)
                                 : VerifyManifest(n_, UpdatePublicKey(), txt, fetch, manifest);
    if (!signedOk) {
        NotInstalled(lastFetch_.done ? "refused: bad signature" : FetchFailure(lastFetch_));
        return false;
    }
    if (!folder) {
        release.sha256 = manifest.sha256;
        release.size = manifest.size;
    }
    return true;
}

InstallResult TForm1::Update(const std::string& txt, ReleaseInfo& release) {
    auto& fs = platform::Fs();
    // A folder release's manifest is that or nothing: never taken for a stamp written by hand.
    const bool folder = IsFolderManifestText(txt);
    // Nothing more is downloaded for a manifest the vendor did not sign.
    if (!UpdatePublicKey().empty() && !SignedByVendor(txt, folder, release)) return InstallResult::NotInstalled;
    if (folder) {
        folderUpdate_ = true;
        log_.Outcome("failed: version folder incomplete");
        const InstallResult built =
            folders_.Build(txt, release, [this](const std::vector<ObjectFetch>& o) { FetchObjects(o); });
        if (built == InstallResult::NotInstalled && *folders_.Refusal())
            log_.Outcome(std::string("refused: ") + folders_.Refusal());
        return built;
    }
    std::string bad;
    if (fs.FileExists(n_.bad) && ReadSmallFile(n_.bad, bad, kMaxStampFileSize, true) &&
        IsBadRelease(bad, release))
        return NotInstalled("refused: release marked bad");

    // With a manifest the download is named for the release, so that the next start
    // continues one that broke off; only one launcher of the program runs at a time, and
    // what is installed is still only what matches the manifest, whatever lay there before.
    const bool manifest = release.HasManifest();
    const std::string name =
        manifest ? ReleaseProgramName(n_.baseName, release.sha256) : n_.baseName + ".bin";
    const std::string download = n_.folder + name;
    if (manifest) RemoveOtherReleaseDownloads(n_, name);
    fs.DeleteFile(download);
    FetchLimits limits;
    limits.maxBytes = release.size;
    limits.needLength = !manifest;
    limits.minBytes = kProgramMinBytes;
    limits.dialog = true;
    uint64_t announced = 0;
    const bool arrived = Fetch(n_.programUrl, name, limits, &announced,
                               manifest ? "sha256 " + release.sha256 : "stamp " + release.stamp);
    ProcessMessages(5);
    platform::Sys().Sleep(100);
    InstallResult result = NotInstalled(FetchFailure(lastFetch_));
    if (arrived) {
        // Held so that nothing can change, replace or move the file between the check and
        // the rename: the program installed is the one whose bytes were checked.
        auto file = fs.Open(download, platform::OpenMode::ReadLocked);
        const ProgramCheck check = file ? CheckProgram(*file, release, announced) : ProgramCheck::Unreadable;
        log_.Outcome(CheckOutcome(check));
        if (check == ProgramCheck::Matches) result = InstallProgram(n_, *file);
        if (result == InstallResult::NotInstalled && check == ProgramCheck::Matches)
            log_.Outcome("failed: not installed");
    }
    fs.DeleteFile(download);
    return result;
}

void TForm1::FetchObjects(const std::vector<ObjectFetch>& objects) {
    WebCopy1->Items.Clear();
    for (const auto& o : objects) {
        TWebCopyItem* item = WebCopy1->Items.Add();
        item->TargetDir = o.folder;
        item->URL = n_.objectsUrl + o.sha256;
        item->TargetFilename = o.name;
        // An object that broke off is continued by the next start: it never changes.
        item->Resume = true;
        item->ResumeKey = "sha256 " + o.sha256;
    }
    WebCopy1->TimeLimit = 0;
    WebCopy1->StallMinBytes = kProgramMinBytes;
    FetchResult r;
    r.name = n_.baseName + ".files";
    Watch(r);
    WebCopy1->OnCopyProgress = [this, &objects, &r](TObject*, int file, uint32_t size, uint32_t total) {
        if (file < 1 || static_cast<size_t>(file) > objects.size()) return;
        Arrived(r, size);
        const uint64_t limit = objects[file - 1].size;
        if (size > limit || total > limit) {
            r.tooLarge = true;
            WebCopy1->Cancel();
        }
    };
    WebCopy1->Execute();
    WebCopy1->OnCopyProgress = nullptr;
    size_t done = 0;
    uint64_t bytes = 0;
    for (size_t i = 0; i < objects.size() && i < static_cast<size_t>(WebCopy1->Items.Count()); ++i)
        if (WebCopy1->Items[static_cast<int>(i)].Done) {
            ++done;
            bytes += objects[i].size;
        }
    Ended(r, done == objects.size() && !WebCopy1->CancelRequested());
    log_.Fetched(r.name, bytes, "(" + std::to_string(done) + " of " + std::to_string(objects.size()) + ")");
    // All that arrived is checked next: what fails then did not match its name.
    log_.Outcome(r.done ? "refused: object mismatch" : FetchFailure(r));
    ProcessMessages(5);
}

std::string TForm1::Command() const { return StartCommand(n_.managed, ArgumentText()); }

void TForm1::ReportNotStarted(const std::string& program) {
    Application->ShowMessage(PathMessage(kNotStarted, program, kNotStartedSuffix));
}

void TForm1::ShowCaption(const char* text) {
    Label1->SetCaption(text);
    Application->ProcessMessages();
    Repaint();
}

bool TForm1::StartNewRelease(const ReleaseInfo& release) {
    ShowCaption(kStarting);
    uint32_t code = 0;
    log_.Outcome("installed");
    const auto why = [&code](StartOutcome outcome) {
        return outcome == StartOutcome::NotStarted ? std::string("not started") : Format("exit 0x%08X", unsigned(code));
    };
    if (folderUpdate_) {
        // Started from its own folder; the current version stays current until it runs.
        const auto outcome = StartAndWatch(StartCommand(folders_.NewProgram(), ArgumentText()), kShowMinimized,
                                           [] { Application->ProcessMessages(); }, folders_.NewFolder(), &code);
        if (outcome == StartOutcome::Started) return true;
        RecordStamp(n_.bad, BadReleaseRecord(folders_.BadRecord()));
        const bool previous = folders_.Installed() || platform::Fs().FileExists(n_.managed);
        log_.Outcome((previous ? "rolled back: " : "failed: new release ") + why(outcome));
        if (previous)
            StartInstalled();
        else
            ReportNotStarted(folders_.NewProgram());
        return false;
    }
    const auto outcome = StartAndWatch(Command(), kShowMinimized,
                                       [] { Application->ProcessMessages(); }, std::string(), &code);
    auto& fs = platform::Fs();
    // Its stamp is recorded only once no rollback is owed any more.
    if (outcome == StartOutcome::Started) return fs.DeleteFile(n_.pending) || !fs.FileExists(n_.pending);
    // Not fetched again; a newer stamp is tried as usual.
    RecordStamp(n_.bad, BadReleaseRecord(release));
    const bool back = RollBack(n_);
    log_.Outcome((back ? "rolled back: " : "failed: new release ") + why(outcome));
    // A rollback still owed (the release holds its file) is made by the next launcher.
    if (back || !fs.FileExists(n_.previous)) fs.DeleteFile(n_.pending);
    if (!back || !StartProgram(Command(), kShowMinimized)) ReportNotStarted(n_.managed);
    return false;
}

bool TForm1::StartInstalled() {
    ProcessMessages(5);
    const bool folder = folders_.Installed();
    const std::string program = folder ? folders_.Current().program : n_.managed;
    if (!platform::Fs().FileExists(program)) {
        NoteNotStarted("program missing");
        Application->ShowMessage(PathMessage(kProgramMissing, program, kMissingSuffix));
        return false;
    }
    // A folder release runs in its own folder, where it finds its files.
    const bool started =
        folder ? StartProgramIn(StartCommand(program, ArgumentText()), kShowMinimized,
                                folders_.Current().folder.substr(0, folders_.Current().folder.size() - 1))
               : StartProgram(Command(), kShowMinimized);
    if (started) {
        ShowCaption(kStarting);
    } else {
        NoteNotStarted("program not started");
        ReportNotStarted(program);
    }
    return true;
}

void TForm1::StartWithoutUpdate() {
    log_.Outcome("failed: no update address");
    Application->ShowMessage(PathMessage(kNotStarted, platform::Sys().ModuleFileName(), kNoUpdateUrlSuffix));
    // No server to ask: the installed program is started as it is (a folder release's from
    // its folder), and its stamp stays.
    auto& fs = platform::Fs();
    std::string dat;
    if (fs.FileExists(n_.localStamp) && ReadSmallFile(n_.localStamp, dat, kMaxFolderManifestSize, false))
        folders_.Load(n_, dat);
    if (folders_.Installed() || fs.FileExists(n_.managed)) StartInstalled();
    // No mutex is held here: two such launchers at once may lose one of their lines.
    log_.Write(n_.log);
    Close();
    Application->Terminate();
}

void TForm1::FormShow(TObject*) {
    n_ = MakeStarterNames(platform::Sys().ModuleFileName(), PBSystemPath1->AppData(), UpdateBaseUrl());
    log_.Begin(platform::Sys().GetLocalTime(), UpdateBaseUrl());
    // A generic launcher that nobody branded: nothing to download from.
    if (*UpdateBaseUrl() == '\0') return StartWithoutUpdate();

    // Up to the comparison nothing is guarded: an error here is shown by the application's
    // error report and leaves the splash idle.
    ForceDirectory(n_.folder);  // not reported here: the downloads into it fail instead
    // Held to the end, the log's line included: launchers of one program never write it at once.
    const auto oneAtATime = WaitForOtherLaunchers(n_);
    try {
        UpdateAndStart();
    } catch (...) {
        log_.Outcome("failed: " + CurrentErrorText());
        log_.Write(n_.log);
        throw;
    }
    log_.Write(n_.log);
    Close();
    Application->Terminate();
}

std::string TForm1::InstalledStamp() {
    auto& fs = platform::Fs();
    std::string bytes;
    // A local stamp file that holds no stamp (over the limit, a portal's page recorded by an
    // older launcher) counts as missing; so does a folder release whose folder lacks its
    // program, which is then fetched again.
    const bool read = fs.FileExists(n_.localStamp) && ReadSmallFile(n_.localStamp, bytes, kMaxFolderManifestSize, true);
    folders_.Load(n_, read ? bytes : std::string());
    return folders_.Installed() ? folders_.Current().manifest.stamp
           : read && !folders_.CurrentIsFolder() && bytes.size() <= kMaxStampFileSize ? StampOf(bytes)
                                                                                   : std::string();
}

void TForm1::UpdateAndStart() {
    auto& fs = platform::Fs();
    ResumeInterruptedInstall(n_);
    std::string localStamp = InstalledStamp();
    log_.Local(localStamp);
    if (localStamp.empty()) localStamp = kDefaultStamp;
    std::string txt;
    ReleaseInfo release;
    const bool answered = FetchRelease(txt, release);
    const bool newer = answered && StampIsNewer(release.stamp, localStamp);
    if (answered) log_.Server(release.stamp);
    if (answered && !newer) log_.Outcome("up to date");
    // Unsigned, the server's stamp is recorded when it is not newer (the stamp files rotate);
    // signed, only the verified manifest of a release that was installed ever is, and so in
    // every build for a folder release: N.dat names a version folder that is there.
    bool record = answered && !newer && UpdatePublicKey().empty() && !folders_.CurrentIsFolder() &&
                  !IsFolderManifestText(txt);
    if (answered && !newer && !record) fs.DeleteFile(n_.serverStamp);
    try {
        if (newer) {
            ShowCaption(kFetching);
            ProcessMessages(5);
        }
        const InstallResult installed = newer ? Update(txt, release) : InstallResult::NotInstalled;
        if (installed == InstallResult::ProgramRunning) {
            log_.Outcome("failed: program running");
            Application->ShowMessage(kProgramRunning);
        } else {
            // Before anything starts, so that only programs started earlier hold a version.
            folders_.CleanUp();
            // Only a start after an update is watched; the stamp then waits for its outcome.
            if (installed == InstallResult::Installed)
                record = StartNewRelease(release);
            else
                record = StartInstalled() && record;
            if (record) {
                // The switch: a folder release becomes current only once it runs.
                if (folderUpdate_) {
                    folders_.Switch();
                } else {
                    folders_.KeepAsPrevious();
                    RecordStamp(n_.localStamp, txt);
                }
                fs.DeleteFile(n_.serverStamp);
            }
            Application->ProcessMessages();
            Repaint();
            platform::Sys().Sleep(300);
        }
    } catch (...) {
        log_.Outcome("failed: " + CurrentErrorText());
        Application->ShowMessage(kAlreadyStarted);
    }
}
