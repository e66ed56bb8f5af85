#include "framework/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "framework/Exceptions.h"

namespace {

constexpr long long MSecsPerDay = 24LL * 60 * 60 * 1000;
// Days from 1 January 0001 (day 1) to 30 December 1899 (day 0 of TDateTime).
constexpr long long DateDelta = 693594;

constexpr int DaysInMonth[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

}  // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
    const int* days = DaysInMonth[IsLeapYear(year) ? 1 : 0];
    if (day < 1 || day > days[month - 1]) return false;
    long long n = day;
    for (int m = 1; m < month; ++m) n += days[m - 1];
    const long long y = year - 1;
    n += y * 365 + y / 4 - y / 100 + y / 400;
    out = static_cast<TDateTime>(n - DateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) {
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
        msec >= 1000)
        return false;
    const long long ms = ((hour * 60LL + min) * 60 + sec) * 1000 + msec;
    out = static_cast<TDateTime>(ms) / static_cast<TDateTime>(MSecsPerDay);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime dt = 0;
    if (!TryEncodeDate(year, month, day, dt)) throw EConvertError(rtl_messages::DateEncodeError);
    return dt;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime dt = 0;
    if (!TryEncodeTime(hour, min, sec, msec, dt)) throw EConvertError(rtl_messages::TimeEncodeError);
    return dt;
}

namespace {

// Splits into a day number counted from 1 January 0001 and the milliseconds of the day;
// rounding to whole milliseconds may carry into the next day. Before 1899 the time of day
// is the fraction's absolute value.
void ToTimeStamp(TDateTime dt, long long& date, long long& time) {
    const long long total = std::llround(dt * static_cast<double>(MSecsPerDay));
    date = total / MSecsPerDay + DateDelta;
    time = std::llabs(total) % MSecsPerDay;
}

}  // namespace

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    long long t = 0, unusedTime = 0;
    ToTimeStamp(dt, t, unusedTime);
    if (t <= 0) {
        year = month = day = 0;
        return;
    }
    constexpr long long D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
    --t;
    long long y = 1 + (t / D400) * 400;
    t %= D400;
    long long i = t / D100, d = t % D100;
    if (i == 4) { --i; d += D100; }
    y += i * 100;
    y += (d / D4) * 4;
    d %= D4;
    i = d / D1;
    d %= D1;
    if (i == 4) { --i; d += D1; }
    y += i;
    const int* days = DaysInMonth[IsLeapYear(static_cast<int>(y)) ? 1 : 0];
    int m = 1;
    while (d >= days[m - 1]) {
        d -= days[m - 1];
        ++m;
    }
    year = static_cast<int>(y);
    month = m;
    day = static_cast<int>(d) + 1;
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
    long long unusedDate = 0, t = 0;
    ToTimeStamp(dt, unusedDate, t);
    msec = static_cast<int>(t % 1000);
    t /= 1000;
    sec = static_cast<int>(t % 60);
    t /= 60;
    min = static_cast<int>(t % 60);
    hour = static_cast<int>(t / 60);
}

TDateTime Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &secs);
#else
    localtime_r(&secs, &local);
#endif
    TDateTime date = 0, time = 0;
    TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
    TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                  static_cast<int>(ms < 0 ? 0 : ms), time);
    return date + time;
}
