// File time <-> calendar conversions of the doubles (proleptic Gregorian, UTC).
#include <stdexcept>

#include "doubles/FakeTime.h"

namespace platform::fake {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = 86400 * kTicksPerSecond;
constexpr int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

bool ToFileTime(const SystemTime& st, FileTime& out) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDays1601To1970;
    const int64_t ticks = days * kTicksPerDay +
                          ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
                          st.wMilliseconds * int64_t{10000};
    const auto v = static_cast<uint64_t>(ticks);
    out.dwLowDateTime = static_cast<uint32_t>(v);
    out.dwHighDateTime = static_cast<uint32_t>(v >> 32);
    return true;
}

bool ToSystemTime(const FileTime& ft, SystemTime& out) {
    const uint64_t v = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    if (v > 0x7FFFFFFFFFFFFFFFull) return false;
    const auto ticks = static_cast<int64_t>(v);
    const int64_t days = ticks / kTicksPerDay;
    int64_t rest = ticks % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days - kDays1601To1970, y, m, d);
    out.wYear = static_cast<uint16_t>(y);
    out.wMonth = static_cast<uint16_t>(m);
    out.wDay = static_cast<uint16_t>(d);
    out.wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<uint16_t>(rest / (3600 * kTicksPerSecond));
    rest %= 3600 * kTicksPerSecond;
    out.wMinute = static_cast<uint16_t>(rest / (60 * kTicksPerSecond));
    rest %= 60 * kTicksPerSecond;
    out.wSecond = static_cast<uint16_t>(rest / kTicksPerSecond);
    out.wMilliseconds = static_cast<uint16_t>(rest % kTicksPerSecond / 10000);
    return true;
}

SystemTime MakeSystemTime(int year, int month, int day, int hour, int minute, int second,
                          int millisecond) {
    SystemTime st;
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wHour = static_cast<uint16_t>(hour);
    st.wMinute = static_cast<uint16_t>(minute);
    st.wSecond = static_cast<uint16_t>(second);
    st.wMilliseconds = static_cast<uint16_t>(millisecond);
    FileTime ft;
    SystemTime full;
    if (ToFileTime(st, ft) && ToSystemTime(ft, full)) st.wDayOfWeek = full.wDayOfWeek;
    return st;
}

FileTime MakeFileTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
    FileTime ft;
    if (!ToFileTime(MakeSystemTime(year, month, day, hour, minute, second, millisecond), ft))
        throw std::invalid_argument("MakeFileTime: not a valid date and time");
    return ft;
}

}  // namespace platform::fake
