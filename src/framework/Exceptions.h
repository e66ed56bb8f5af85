#pragma once
// The framework's exception classes. Messages are the framework's own texts.
#include <cstdint>
#include <exception>
#include <string>

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The class name shown by the unhandled-error report.
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string message_;
};

#define FRAMEWORK_EXCEPTION(Name, Base)                                    \
    class Name : public Base {                                             \
    public:                                                                \
        using Base::Base;                                                  \
        const char* ClassName() const override { return #Name; }          \
    }

FRAMEWORK_EXCEPTION(EListError, Exception);
FRAMEWORK_EXCEPTION(EStringListError, Exception);  // "List index out of bounds (%d)"
FRAMEWORK_EXCEPTION(EStreamError, Exception);
FRAMEWORK_EXCEPTION(EFOpenError, EStreamError);     // "Cannot open file %s"
FRAMEWORK_EXCEPTION(EConvertError, Exception);      // "Invalid argument to date encode"
FRAMEWORK_EXCEPTION(ERegistryException, Exception); // "Invalid data type for '%s'"

// Run-time input/output error on a local file (write, read or close failure).
class EInOutError : public Exception {
public:
    EInOutError(int code, std::string message) : Exception(std::move(message)), ErrorCode(code) {}
    explicit EInOutError(int code) : EInOutError(code, Format("I/O error %d", code)) {}
    const char* ClassName() const override { return "EInOutError"; }
    int ErrorCode;
};

// The framework's message texts, byte for byte.
namespace rtl_messages {
inline constexpr const char* ListIndexError = "List index out of bounds (%d)";
inline constexpr const char* FOpenError = "Cannot open file %s";
inline constexpr const char* DateEncodeError = "Invalid argument to date encode";
inline constexpr const char* TimeEncodeError = "Invalid argument to time encode";
inline constexpr const char* InvalidRegType = "Invalid data type for '%s'";
inline constexpr const char* RegGetDataFailed = "Failed to get data for '%s'";
}  // namespace rtl_messages
