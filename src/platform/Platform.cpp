// Service accessors and the command-line parser. Portable: the Win32 services come from
// win32/Defaults.h, and only in the Win32 build.
#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include "platform/win32/Defaults.h"
#endif

namespace platform {
namespace {

std::atomic<Files*> g_files{nullptr};
std::atomic<Registry*> g_reg{nullptr};
std::atomic<System*> g_sys{nullptr};
std::atomic<Network*> g_net{nullptr};

[[noreturn]] void NoService(const char* name) {
    std::fprintf(stderr, "platform: no %s service installed (tests must install the doubles)\n", name);
    std::fflush(stderr);
    std::abort();
}

template <class T>
T& Service(std::atomic<T*>& slot, T& (*fallback)(), const char* name) {
    if (T* s = slot.load()) return *s;
    if (fallback) return fallback();
    NoService(name);
}

#ifdef _WIN32
constexpr auto kDefaultFiles = &win32::DefaultFiles;
constexpr auto kDefaultRegistry = &win32::DefaultRegistry;
constexpr auto kDefaultSystem = &win32::DefaultSystem;
constexpr auto kDefaultNetwork = &win32::DefaultNetwork;
#else
constexpr Files& (*kDefaultFiles)() = nullptr;
constexpr Registry& (*kDefaultRegistry)() = nullptr;
constexpr System& (*kDefaultSystem)() = nullptr;
constexpr Network& (*kDefaultNetwork)() = nullptr;
#endif

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

Files& Fs() { return Service(g_files, kDefaultFiles, "Files"); }
Registry& Reg() { return Service(g_reg, kDefaultRegistry, "Registry"); }
System& Sys() { return Service(g_sys, kDefaultSystem, "System"); }
Network& Net() { return Service(g_net, kDefaultNetwork, "Network"); }

void Install(Files* files, Registry* reg, System* sys, Network* net) {
    g_files = files;
    g_reg = reg;
    g_sys = sys;
    g_net = net;
}

std::vector<std::string> ParseCommandLine(const std::string& cmdLine) {
    // The text ends at a zero byte, as GetCommandLineA's does.
    const std::string text = cmdLine.substr(0, cmdLine.find('\0'));
    std::vector<std::string> args;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) ++i;
        if (i == text.size()) break;
        std::string arg;
        bool quoted = false;
        // Inside quotes blanks and control characters are text; a quote only toggles.
        for (; i < text.size() && (quoted || !IsSeparator(text[i])); ++i) {
            if (text[i] == '"')
                quoted = !quoted;
            else
                arg += text[i];
        }
        // A word made of quotes alone ("") is no argument.
        if (!arg.empty()) args.push_back(arg);
    }
    return args;
}

int ParamCount() {
    const auto args = ParseCommandLine(Sys().CommandLine());
    return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::string ParamStr(int index) {
    const auto args = ParseCommandLine(Sys().CommandLine());
    if (index < 0 || static_cast<size_t>(index) >= args.size()) return {};
    return args[static_cast<size_t>(index)];
}

}  // namespace platform
