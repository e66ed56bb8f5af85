#include "webcopy/WebCopyErrors.h"

#include "framework/Strings.h"
#include "platform/Platform.h"

std::string ErrorText(uint32_t code) {
    std::string text;
    if (!platform::Net().FormatMessage(code, text))
        return "Network error " + IntToStr(code);
    // The message buffer ends at its first zero byte.
    const size_t end = text.find('\0');
    if (end != std::string::npos) text.erase(end);
    return text;
}
