#include "launcher/Installer.h"

#include "launcher/uStarter.h"

namespace {

constexpr uint32_t kSettleMs = 100;
constexpr int kRollBackTries = 20;

}  // namespace

InstallResult InstallProgram(const StarterNames& n, platform::File& download) {
    auto& fs = platform::Fs();
    // A rollback still owed: N.exe is an unjudged release and must not become N.prev.exe.
    if (fs.FileExists(n.pending)) return InstallResult::ProgramRunning;
    const bool hadProgram = fs.FileExists(n.managed);
    // Copied, not renamed: a running program must stay where it is (its removal below is the
    // test that it does not run). Copied under a temporary name, so N.prev.exe is only ever a
    // whole program. Without a previous program nothing is kept to go back to.
    const std::string part = n.previous + ".part";
    const bool kept = hadProgram ? fs.CopyFile(n.managed, part, false) && fs.ReplaceFile(part, n.previous)
                                 : fs.DeleteFile(n.previous) || !fs.FileExists(n.previous);
    fs.DeleteFile(part);
    if (!kept) return InstallResult::NotInstalled;
    // Only its presence counts: created once N.prev.exe is whole.
    if (hadProgram) {
        const auto pending = fs.Open(n.pending, platform::OpenMode::CreateWrite);
        if (!pending || !pending->Close()) return InstallResult::NotInstalled;
    }
    fs.DeleteFile(n.managed);
    platform::Sys().Sleep(kSettleMs);
    InstallResult result = InstallResult::ProgramRunning;
    if (!fs.FileExists(n.managed)) {
        if (download.RenameTo(n.managed)) return InstallResult::Installed;
        if (hadProgram && !fs.MoveFile(n.previous, n.managed)) fs.CopyFile(n.previous, n.managed, true);
        result = InstallResult::NotInstalled;
    }
    // Nothing changed: no rollback is owed.
    if (fs.FileExists(n.managed)) fs.DeleteFile(n.pending);
    return result;
}

bool RollBack(const StarterNames& n) {
    auto& fs = platform::Fs();
    if (!fs.FileExists(n.previous)) return false;
    // A release that just ended may hold its file a moment longer.
    for (int i = 0; i < kRollBackTries; ++i) {
        if (fs.ReplaceFile(n.previous, n.managed)) return true;
        platform::Sys().Sleep(kSettleMs);
    }
    return false;
}

void ResumeInterruptedInstall(const StarterNames& n) {
    auto& fs = platform::Fs();
    // The launcher that installed the release never judged its start: the release is tried
    // again, after the previous program is back (a killed launcher says nothing about it).
    if (fs.FileExists(n.pending) && (!fs.FileExists(n.previous) || RollBack(n))) fs.DeleteFile(n.pending);
}
