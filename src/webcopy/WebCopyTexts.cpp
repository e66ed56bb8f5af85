#include "webcopy/WebCopyTexts.h"

#include <cmath>

#include "framework/Strings.h"

namespace {

// n / unit with two decimals and the locale's separator, as "%.2f" writes it, but in whole
// numbers: these texts are built after every 4 KiB block, and printf of a double is the
// costliest part of that. A tie at the third decimal goes to the even neighbour.
std::string Fixed2(uint32_t n, uint32_t unit) {
    const uint64_t scaled = static_cast<uint64_t>(n) * 100;
    uint64_t hundredths = scaled / unit;
    const uint64_t rest = scaled % unit;
    if (rest * 2 > unit || (rest * 2 == unit && hundredths % 2 == 1)) ++hundredths;
    char buf[32];
    char* p = buf + sizeof buf;
    const auto put = [&p](uint64_t v, int minDigits) {
        for (int i = 0; v > 0 || i < minDigits; ++i, v /= 10) *--p = static_cast<char>('0' + v % 10);
    };
    put(hundredths % 100, 2);
    *--p = DecimalSeparator;
    put(hundredths / 100, 1);
    return std::string(p, buf + sizeof buf);
}

}  // namespace

std::string SizeText(uint32_t bytes) {
    if (bytes < 1000) return IntToStr(bytes) + " bytes";
    if (bytes < 1000000) return Fixed2(bytes, 1000) + " Kb";
    return Fixed2(bytes, 1000000) + " Mb";
}

std::string RateText(int32_t bytesPerSecond) {
    if (bytesPerSecond < 1000) return IntToStr(bytesPerSecond) + " bytes/sec";
    const auto rate = static_cast<uint32_t>(bytesPerSecond);
    if (bytesPerSecond < 1000000) return Fixed2(rate, 1000) + " Kb/sec";
    return Fixed2(rate, 1000000) + " Mb/sec";
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
