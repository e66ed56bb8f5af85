#pragma once
// Texts of the progress dialog's size, rate and time lines. Units are decimal (1 Kb is
// 1000 bytes); fractions use two decimals and the user's decimal separator.
#include <cstdint>
#include <string>

// "999 bytes", "1.50 Kb", "2.00 Mb".
std::string SizeText(uint32_t bytes);

// "0 bytes/sec", "2.50 Kb/sec", "1.20 Mb/sec"; a negative rate stays in bytes.
std::string RateText(int32_t bytesPerSecond);

// With done 0: the elapsed time. Otherwise the time the remaining bytes take at the average
// speed so far. "29 sec.", "2 minutes", "1h 30" (roundings halve to even at every step).
// When total is below done (0 included: the size is unknown) no estimate exists and the
// text is "-".
std::string TimeText(uint32_t elapsedMs, uint32_t done, uint32_t total);
