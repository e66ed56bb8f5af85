#include "launcher/Installer.h"

#include "launcher/uStarter.h"

namespace {

constexpr uint32_t kSettleMs = 100;
constexpr int kRollBackTries = 20;

}  // namespace

InstallResult InstallProgram(const StarterNames& n, platform::File& download) {
    auto& fs = platform::Fs();
    const bool hadProgram = fs.FileExists(n.managed);
    // Copied, not renamed: a running program must stay where it is (its removal below is the
    // test that it does not run). Without a previous program nothing is kept to go back to.
    const bool kept = hadProgram ? fs.CopyFile(n.managed, n.previous, false)
                                 : fs.DeleteFile(n.previous) || !fs.FileExists(n.previous);
    if (!kept) return InstallResult::NotInstalled;
    fs.DeleteFile(n.managed);
    platform::Sys().Sleep(kSettleMs);
    if (fs.FileExists(n.managed)) return InstallResult::ProgramRunning;
    if (download.RenameTo(n.managed)) return InstallResult::Installed;
    if (hadProgram && !fs.MoveFile(n.previous, n.managed)) fs.CopyFile(n.previous, n.managed, true);
    return InstallResult::NotInstalled;
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
