#include "launcher/Installer.h"

#include "launcher/uStarter.h"

namespace {

constexpr uint32_t kSettleMs = 100;
constexpr int kRollBackTries = 20;

// A copy of `from` as `to`, in one step for whoever looks at `to`.
void PutBack(const std::string& from, const std::string& to) {
    auto& fs = platform::Fs();
    if (!fs.MoveFile(from, to)) fs.CopyFile(from, to, true);
}

}  // namespace

InstallResult InstallProgram(const StarterNames& n, platform::File& download) {
    auto& fs = platform::Fs();
    // Copied, not renamed: a running program must stay where it is (its removal below is the
    // test that it does not run).
    const std::string keep = n.previous + ".tmp";
    const bool hadProgram = fs.FileExists(n.managed);
    if (hadProgram) {
        fs.DeleteFile(keep);
        if (!fs.CopyFile(n.managed, keep, false)) return InstallResult::NotInstalled;
    } else {
        fs.DeleteFile(n.previous);  // nothing is replaced: nothing to go back to
    }
    fs.DeleteFile(n.managed);
    platform::Sys().Sleep(kSettleMs);
    if (fs.FileExists(n.managed)) {
        fs.DeleteFile(keep);
        return InstallResult::ProgramRunning;
    }
    if (!download.RenameTo(n.managed)) {
        if (hadProgram) PutBack(keep, n.managed);
        return InstallResult::NotInstalled;
    }
    // A previous program that cannot be kept is no previous program: a stale one would
    // bring back an older release than the one replaced.
    if (hadProgram && !fs.ReplaceFile(keep, n.previous)) {
        fs.DeleteFile(keep);
        fs.DeleteFile(n.previous);
    }
    return InstallResult::Installed;
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
