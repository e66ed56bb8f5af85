#include "components/SsConst.h"

#include <iterator>

namespace {

struct MessageEntry {
    int code;
    const char* text;
};

const MessageEntry kMessages[] = {
    {ssErrOpenFile, "Error opening file"},
    {ssErrNoVersionInfo, "File does not contain version info"},
    {ssErrReadVersionInfo, "Unable to read version info"},
};

}  // namespace

std::string MessageText(int code) {
    // Searched from the end so that a later entry overrides an earlier one with its code.
    for (auto it = std::rbegin(kMessages); it != std::rend(kMessages); ++it)
        if (it->code == code) return it->text;
    return std::string();
}
