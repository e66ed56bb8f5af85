#include <gtest/gtest.h>

#include <algorithm>

#include "doubles/FakePlatform.h"
#include "platform/SmallFile.h"

namespace {

using platform::ReadSmallFile;

TEST(ReadSmallFile, ReadsUpToTheCapAndNoMoreThanABlockPastIt) {
    platform::fake::ScopedFakePlatform fake;
    const std::string big(1 << 20, 'x');
    fake.WriteFile("C:\\exact", big.substr(0, 5000));
    fake.WriteFile("C:\\big", big);
    fake.WriteFile("C:\\empty", "");
    std::string bytes = "old";
    bool opened = false;

    EXPECT_TRUE(ReadSmallFile("C:\\exact", bytes, 5000, &opened));
    EXPECT_TRUE(opened);
    EXPECT_EQ(bytes, big.substr(0, 5000));
    EXPECT_TRUE(ReadSmallFile("C:\\empty", bytes, 0));
    EXPECT_EQ(bytes, "");
    EXPECT_FALSE(ReadSmallFile("C:\\exact", bytes, 4999));

    fake.ResetCalls();
    EXPECT_FALSE(ReadSmallFile("C:\\big", bytes, 8192, &opened));
    EXPECT_TRUE(opened);
    const auto& log = fake.CallLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "File.Read C:\\big"), 3);
    EXPECT_EQ(fake.OpenFileCount(), 0);

    bytes = "kept";
    EXPECT_FALSE(ReadSmallFile("C:\\missing", bytes, 100, &opened));
    EXPECT_FALSE(opened);
    EXPECT_EQ(bytes, "kept");

    // A failed read or close is no whole file.
    fake.FailNextCall("File.Read");
    EXPECT_FALSE(ReadSmallFile("C:\\exact", bytes, 5000, &opened));
    EXPECT_TRUE(opened);
    fake.FailNextCall("File.Close");
    EXPECT_FALSE(ReadSmallFile("C:\\exact", bytes, 5000));
    EXPECT_EQ(fake.OpenFileCount(), 0);
}

}  // namespace
