#pragma once
// Small helpers shared by the end-to-end helper programs: what they print about windows.
#include <windows.h>

#include <string>

// Bytes as lower-case hex, so Windows-1252 texts cross to the tests unchanged.
inline std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string ClassOf(HWND h)
{
    char buf[256];
    int n = GetClassNameA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

// Read from the window manager, without a message: the program under test may be busy in a
// blocking download and not answer. (Wine keeps a control's text there as well.)
inline std::string StoredText(HWND h)
{
    char buf[4096];
    int n = GetWindowTextA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}
