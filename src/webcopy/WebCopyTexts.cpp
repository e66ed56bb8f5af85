#include "webcopy/WebCopyTexts.h"

#include <cmath>

#include "framework/Strings.h"

std::string SizeText(uint32_t bytes) {
    if (bytes < 1000) return IntToStr(bytes) + " bytes";
    if (bytes < 1000000) return FormatFixed2(bytes / 1000.0) + " Kb";
    return FormatFixed2(bytes / 1000000.0) + " Mb";
}

std::string RateText(int32_t bytesPerSecond) {
    if (bytesPerSecond < 1000) return IntToStr(bytesPerSecond) + " bytes/sec";
    if (bytesPerSecond < 1000000) return FormatFixed2(bytesPerSecond / 1000.0) + " Kb/sec";
    return FormatFixed2(bytesPerSecond / 1000000.0) + " Mb/sec";
}

std::string TimeText(uint32_t elapsedMs, uint32_t done, uint32_t total) {
    double t = elapsedMs;
    if (done > 0) {
        // Without a known total the remaining bytes are unknown: no estimate to show.
        if (total < done) return "-";
        t = static_cast<double>(total - done) * elapsedMs / done;
    }
    // The estimate is taken as a 32-bit count of milliseconds; wrapping it before rounding
    // keeps the rounding within range for any input (the parity of a half is preserved).
    constexpr double kWrap = 4294967296.0;
    const uint32_t ms = static_cast<uint32_t>(RoundHalfEven(std::fmod(t, kWrap)));
    const long long s = RoundHalfEven(ms / 1000.0);
    const long long m = RoundHalfEven(s / 60.0);
    const long long h = RoundHalfEven(m / 60.0);
    // The hour test uses the rounded hours while the text splits the minutes by whole hours,
    // so 31 to 59 minutes read "0h 31" and so on.
    if (m == 0 && h == 0) return IntToStr(s) + " sec.";
    if (h > 0) return IntToStr(m / 60) + "h " + IntToStr(m % 60);
    return IntToStr(m) + " minutes";
}
