#include <gtest/gtest.h>

#include "doubles/FakePlatform.h"
#include "platform/Platform.h"

namespace {

using Args = std::vector<std::string>;

struct ParseCase {
    const char* text;
    Args expected;
};

TEST(ParseCommandLine, SplitsAndUnquotesLikeTheFramework) {
    const ParseCase cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"prog.exe", {"prog.exe"}},
        {"C:\\Apps\\Kassa.exe /x c:\\data", {"C:\\Apps\\Kassa.exe", "/x", "c:\\data"}},
        {"\"C:\\Program Files\\Kassa.exe\" a", {"C:\\Program Files\\Kassa.exe", "a"}},
        {"p  a\t\tb\r\nc", {"p", "a", "b", "c"}},           // every control character separates
        {"p \"two words\" x", {"p", "two words", "x"}},
        {"p a\"b c\"d", {"p", "ab cd"}},                     // quotes inside a word join text
        {"p \"\" x", {"p", "x"}},                            // a word of quotes alone is no argument
        {"p \"a\"\"b\"", {"p", "ab"}},
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"p \"tab\tinside\"", {"p", "tab\tinside"}},         // quoted control characters are text
        {"p H\xe4mta \xc5r", {"p", "H\xe4mta", "\xc5r"}},    // bytes above 0x7F are text
    };
    for (const auto& c : cases) EXPECT_EQ(platform::ParseCommandLine(c.text), c.expected) << c.text;
    EXPECT_EQ(platform::ParseCommandLine(std::string("p a\0b c", 7)), (Args{"p", "a"}));
}

TEST(ParamStr, ReadsTheInstalledCommandLine) {
    platform::fake::ScopedFakePlatform fake;
    fake.SetCommandLine("\"C:\\Apps\\Kassa.exe\" /x \"c:\\my data\" ");
    EXPECT_EQ(platform::ParamCount(), 2);
    EXPECT_EQ(platform::ParamStr(0), "C:\\Apps\\Kassa.exe");
    EXPECT_EQ(platform::ParamStr(1), "/x");
    EXPECT_EQ(platform::ParamStr(2), "c:\\my data");
    EXPECT_EQ(platform::ParamStr(3), "");
    EXPECT_EQ(platform::ParamStr(-1), "");

    fake.SetCommandLine("");
    EXPECT_EQ(platform::ParamCount(), 0);
    EXPECT_EQ(platform::ParamStr(0), "");
}

TEST(PlatformAccessors, AbortWhenNothingIsInstalled) {
    EXPECT_DEATH(platform::Fs(), "no Files service installed");
    EXPECT_DEATH(platform::Net(), "no Network service installed");
}

}  // namespace
