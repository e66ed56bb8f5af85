#pragma once
// String list and text/number helpers. Texts are 8-bit (Windows-1252) bytes.
#include <cstdint>
#include <string>
#include <vector>

class TStringList {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    // Raises EStringListError "List index out of bounds (%d)" when out of range.
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }
    void Add(const std::string& s) { lines_.push_back(s); }
    void Clear() { lines_.clear(); }
    void Assign(const TStringList& other) { lines_ = other.lines_; }
    // Splits at CR, LF or CR LF; the text ends at its first zero byte.
    void SetText(const std::string& text);
    // Every line followed by CR LF.
    std::string Text() const;
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

std::string IntToStr(long long value);
std::string UpperCase(const std::string& s);  // ASCII letters only, as the framework does
std::string LowerCase(const std::string& s);

// The user's decimal separator (a comma under a Swedish locale); set by the backend at start.
extern char DecimalSeparator;
// "%.2f" with DecimalSeparator in place of ".".
std::string FormatFixed2(double value);
// Parses a decimal number with the given decimal point; false when the whole text is not one.
bool TryStrToFloat(const std::string& text, double& value, char decimalPoint);

// Rounds to the nearest integer, halves to even.
long long RoundHalfEven(double value);
