#include "framework/Strings.h"

#include <algorithm>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "framework/Exceptions.h"

char DecimalSeparator = '.';

const std::string& TStringList::Strings(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError(Format(rtl_messages::ListIndexError, index));
    return lines_[static_cast<size_t>(index)];
}

void TStringList::SetText(const std::string& text) {
    lines_.clear();
    const size_t end = std::min(text.find('\0'), text.size());
    size_t start = 0;
    while (start < end) {
        size_t p = start;
        while (p < end && text[p] != '\r' && text[p] != '\n') ++p;
        lines_.push_back(text.substr(start, p - start));
        if (p < end && text[p] == '\r') ++p;
        if (p < end && text[p] == '\n') ++p;
        start = p;
    }
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::string IntToStr(long long value) { return std::to_string(value); }

std::string UpperCase(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string FormatFixed2(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", value);
    std::string out = buf;
    // snprintf uses the C locale's point; the user's separator replaces it.
    for (char& c : out)
        if (c == '.') c = DecimalSeparator;
    return out;
}

bool TryStrToFloat(const std::string& text, double& value, char decimalPoint) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    std::string plain;
    size_t i = b;
    if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    int digits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') { plain += text[i++]; ++digits; }
    if (i < e && text[i] == decimalPoint) {
        plain += '.';
        ++i;
        while (i < e && text[i] >= '0' && text[i] <= '9') { plain += text[i++]; ++digits; }
    }
    if (digits == 0) return false;
    if (i < e && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        int expDigits = 0;
        while (i < e && text[i] >= '0' && text[i] <= '9') { plain += text[i++]; ++expDigits; }
        if (expDigits == 0) return false;
    }
    if (i != e) return false;
    // strtod, not a string stream: the stream and locale machinery would more than double
    // the size of every program. The text is in the C form; strtod reads the C runtime's
    // current point, which a host program may have changed with setlocale.
    const char point = *std::localeconv()->decimal_point;
    for (char& c : plain)
        if (c == '.') c = point;
    char* end = nullptr;
    const double parsed = std::strtod(plain.c_str(), &end);
    if (end != plain.c_str() + plain.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

long long RoundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    double r = lower;
    if (diff > 0.5) r = lower + 1;
    else if (diff == 0.5 && std::fmod(lower, 2.0) != 0) r = lower + 1;
    return static_cast<long long>(r);
}
