// The signed release manifest: the one well-formed shape in its two line-end forms, and every
// shape near it refused.
#include <gtest/gtest.h>

#include "launcher/Manifest.h"

namespace {

const std::string kHex(64, 'a');
const std::string kGood = "2026-12-08 10:00:00\r\nsha256 " + kHex + "\r\nsize 1234\r\n";

TEST(ReleaseManifest, ReadsTheThreeLinesWithEitherLineEnd) {
    for (const std::string& eol : {std::string("\r\n"), std::string("\n")}) {
        const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
        ReleaseManifest m;
        ASSERT_TRUE(ParseReleaseManifest("2026-12-08 10:00:00" + eol + "sha256 " + hex + eol +
                                             "size 4294967295" + eol,
                                         m));
        EXPECT_EQ(m.stamp, "2026-12-08 10:00:00");
        EXPECT_EQ(m.sha256, hex);
        EXPECT_EQ(m.size, 4294967295u);
    }
}

TEST(ReleaseManifest, RefusesEveryOtherShape) {
    const std::string sha = "sha256 " + kHex;
    const std::string cases[] = {
        "",
        "2026-12-08 10:00:00\r\n",                                              // stamp only
        "2026-12-08 10:00:00\r\n" + sha + "\r\n",                              // no size
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 1234",                     // last line unended
        kGood + "\r\n",                                                        // an empty fourth line
        kGood + "x\r\n",                                                       // a fourth line
        kGood + std::string(1, '\0'),                                          // a byte after it
        "\r\n" + sha + "\r\nsize 1234\r\n",                                    // empty stamp
        "2026-12-08\t10:00:00\r\n" + sha + "\r\nsize 1234\r\n",                // control in the stamp
        std::string("2026-12-08 10:00:00\0x\r\n", 22) + sha + "\r\nsize 1234\r\n",  // zero byte
        "2026-12-08 10:00:00\r" + sha + "\rsize 1234\r",                       // lone CRs
        "2026-12-08 10:00:00\r\n" + sha + "\nsize 1234\r\n",                   // mixed line ends
        "2026-12-08 10:00:00\n" + sha + "\r\nsize 1234\n",                     // mixed the other way
        "2026-12-08 10:00:00\r\nsha256 " + std::string(64, 'A') + "\r\nsize 1234\r\n",  // upper case
        "2026-12-08 10:00:00\r\nsha256 " + std::string(63, 'a') + "\r\nsize 1234\r\n",  // short
        "2026-12-08 10:00:00\r\nsha256 " + std::string(65, 'a') + "\r\nsize 1234\r\n",  // long
        "2026-12-08 10:00:00\r\nsha256 " + std::string(63, 'a') + "g\r\nsize 1234\r\n", // not hex
        "2026-12-08 10:00:00\r\nsha256  " + std::string(64, 'a') + "\r\nsize 1234\r\n", // two blanks
        "2026-12-08 10:00:00\r\nSHA256 " + kHex + "\r\nsize 1234\r\n",         // keyword case
        "2026-12-08 10:00:00\r\nsize 1234\r\n" + sha + "\r\n",                 // lines swapped
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 0\r\n",                    // empty program
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 01234\r\n",                // leading zero
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize +1234\r\n",                // sign
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize -1\r\n",
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 12 34\r\n",                // blank inside
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 1234 \r\n",                // trailing blank
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize \r\n",                     // no number
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 4294967296\r\n",           // 4 GiB
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 18446744073709551617\r\n", // past 64 bits
        "2026-12-08 10:00:00\r\n" + sha + "\r\nsize 0x10\r\n",
        std::string(4011, 'x') + "\r\n" + sha + "\r\nsize 1234\r\n",  // 4097 bytes
    };
    for (const auto& bytes : cases) {
        ReleaseManifest m;
        m.stamp = "untouched";
        EXPECT_FALSE(ParseReleaseManifest(bytes, m)) << '"' << bytes << '"';
        EXPECT_EQ(m.stamp, "untouched");
    }
}

TEST(ReleaseManifest, TakesAStampUpToTheSizeLimit) {
    const std::string tail = "\r\nsha256 " + kHex + "\r\nsize 1234\r\n";
    ReleaseManifest m;
    EXPECT_TRUE(ParseReleaseManifest(std::string(kMaxStampFileSize - tail.size(), 'x') + tail, m));
}

}  // namespace
