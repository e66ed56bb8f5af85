#include <gtest/gtest.h>

#include <string>

#include "doubles/FakePlatform.h"
#include "webcopy/WebCopyErrors.h"

namespace {

TEST(ErrorText, ModuleTextUnchangedUpToItsFirstZero) {
    platform::fake::ScopedFakePlatform fake;
    const std::string text = "The server name or address could not be resolved\r\n";
    fake.SetMessageText(12007, text);
    EXPECT_EQ(ErrorText(12007), text);

    fake.SetMessageText(12002, std::string("timeout\r\n\0garbage", 18));
    EXPECT_EQ(ErrorText(12002), "timeout\r\n");
}

TEST(ErrorText, UnknownCodeGivesGenericText) {
    platform::fake::ScopedFakePlatform fake;
    fake.SetMessageText(12007, "known");
    EXPECT_EQ(ErrorText(5), "Network error 5");
    EXPECT_EQ(ErrorText(4294967295u), "Network error 4294967295");
}

}  // namespace
