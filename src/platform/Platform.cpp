// Service accessors and the command-line parser. Portable: the default services come
// from the implementation the program links.
#include "platform/Platform.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<Files*> g_files{nullptr};
std::atomic<Registry*> g_reg{nullptr};
std::atomic<System*> g_sys{nullptr};
std::atomic<Network*> g_net{nullptr};

template <class T>
T& Service(std::atomic<T*>& slot, T& (*fallback)()) {
    if (T* s = slot.load()) return *s;
    return fallback();
}

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

Files& Fs() { return Service(g_files, &DefaultFiles); }
Registry& Reg() { return Service(g_reg, &DefaultRegistry); }
System& Sys() { return Service(g_sys, &DefaultSystem); }
Network& Net() { return Service(g_net, &DefaultNetwork); }

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
