#pragma once
// Message table of the shell components: numeric code to message text.
#include <string>

// The codes this system raises.
inline constexpr int ssErrOpenFile = 73;
inline constexpr int ssErrNoVersionInfo = 100;
inline constexpr int ssErrReadVersionInfo = 101;

// The text of the last table entry with `code`; empty text when no entry has it.
std::string MessageText(int code);
