#include "launcher/ProgramStart.h"

#include "platform/Platform.h"

namespace {
constexpr uint32_t kWinExecFailedMax = 31;  // WinExec results up to this are errors
constexpr uint32_t kLookMs = 50;
constexpr uint32_t kBreakpoint = 0x80000003u;
}  // namespace

bool IsFailureStatus(uint32_t exitCode) {
    // Severity "error", not a customer code: 0xC0000000 to 0xCFFFFFFF. -1 is 0xFFFFFFFF.
    return (exitCode & 0xF0000000u) == 0xC0000000u || exitCode == kBreakpoint;
}

bool StartProgram(const std::string& command, unsigned show) {
    return platform::Sys().WinExec(command, show) > kWinExecFailedMax;
}

bool StartProgramIn(const std::string& command, unsigned show, const std::string& folder) {
    return platform::Sys().StartProcess(command, show, false, folder) != nullptr;
}

StartOutcome StartAndWatch(const std::string& command, unsigned show, void (*idle)(),
                           const std::string& folder, uint32_t* exitCode) {
    auto& sys = platform::Sys();
    if (exitCode) *exitCode = 0;
    const auto process = sys.StartProcess(command, show, true, folder);
    if (!process) return StartOutcome::NotStarted;
    const uint32_t start = sys.GetTickCount();
    while (sys.GetTickCount() - start < kWatchMs) {
        if (process->Wait(kLookMs)) {
            const uint32_t code = process->ExitCode();
            if (exitCode) *exitCode = code;
            return IsFailureStatus(code) ? StartOutcome::Failed : StartOutcome::Started;
        }
        if (idle) idle();
    }
    return StartOutcome::Started;
}
