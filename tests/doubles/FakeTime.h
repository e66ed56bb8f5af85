#pragma once
// File times and calendar times of the doubles (UTC, proleptic Gregorian).
#include "platform/NetTypes.h"

namespace platform::fake {

// File times (UTC, 100 ns since 1601).
FileTime MakeFileTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                      int millisecond = 0);
bool ToFileTime(const SystemTime& st, FileTime& out);    // false for invalid fields
bool ToSystemTime(const FileTime& ft, SystemTime& out);  // false above 0x7FFF...
SystemTime MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0, int millisecond = 0);  // day of week filled in

}  // namespace platform::fake
