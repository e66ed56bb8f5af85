#include <gtest/gtest.h>

#include "webcopy/WcBase64.h"

namespace {

struct Base64Case {
    std::string in;
    std::string out;
};

TEST(EncodeBase64, Rfc4648VectorsAndHighBytes) {
    const Base64Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        // Bytes above 0x7F must not sign-extend into the neighbouring sextets.
        {"\xff", "/w=="},
        {"\xff\xfe\xfd", "//79"},
        {"\xe4\xf6", "5PY="},
        {std::string("\0\0\0", 3), "AAAA"},
        {"user:pass", "dXNlcjpwYXNz"},
    };
    for (const auto& c : cases) EXPECT_EQ(EncodeBase64(c.in), c.out) << "input: " << c.in;
}

TEST(EncodeBase64, LongInputHasNoLineBreaks) {
    const std::string out = EncodeBase64(std::string(300, 'a'));
    EXPECT_EQ(out.size(), 400u);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(out.substr(0, 4), "YWFh");
}

}  // namespace
