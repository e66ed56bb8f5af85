#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "framework/Strings.h"
#include "webcopy/WebCopyTexts.h"

namespace {

// Sets the locale's decimal separator for one test and restores it afterwards.
class SeparatorScope {
public:
    explicit SeparatorScope(char sep) : saved_(DecimalSeparator) { DecimalSeparator = sep; }
    ~SeparatorScope() { DecimalSeparator = saved_; }

private:
    char saved_;
};

TEST(SizeText, UnitsAndBoundaries) {
    SeparatorScope dot('.');
    const struct {
        uint32_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {999, "999 bytes"},
        {1000, "1.00 Kb"},
        {4096, "4.10 Kb"},
        {1005, "1.00 Kb"},  // ties at the third decimal go to the even neighbour
        {1015, "1.02 Kb"},
        {1234567, "1.23 Mb"},
        {999999, "1000.00 Kb"},
        {1000000, "1.00 Mb"},
        {1500000, "1.50 Mb"},
        {4294967295u, "4294.97 Mb"},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(RateText, UnitsAndSignedComparison) {
    SeparatorScope dot('.');
    const struct {
        int32_t rate;
        const char* text;
    } cases[] = {
        {0, "0 bytes/sec"},
        {999, "999 bytes/sec"},
        {-1500, "-1500 bytes/sec"},
        {std::numeric_limits<int32_t>::min(), "-2147483648 bytes/sec"},
        {1000, "1.00 Kb/sec"},
        {2500, "2.50 Kb/sec"},
        {999999, "1000.00 Kb/sec"},
        {1000000, "1.00 Mb/sec"},
        {std::numeric_limits<int32_t>::max(), "2147.48 Mb/sec"},
    };
    for (const auto& c : cases) EXPECT_EQ(RateText(c.rate), c.text) << c.rate;
}

TEST(SizeAndRateText, UseTheLocaleDecimalSeparator) {
    SeparatorScope comma(',');
    EXPECT_EQ(SizeText(1500000), "1,50 Mb");
    EXPECT_EQ(SizeText(1000), "1,00 Kb");
    EXPECT_EQ(RateText(2500), "2,50 Kb/sec");
    EXPECT_EQ(SizeText(999), "999 bytes");
}

TEST(TimeText, ElapsedTimeRoundsHalvesToEven) {
    const struct {
        uint32_t ms;
        const char* text;
    } cases[] = {
        {0, "0 sec."},
        {500, "0 sec."},          // 0.5 s rounds to 0
        {1500, "2 sec."},
        {2500, "2 sec."},
        {29400, "29 sec."},
        {30000, "30 sec."},       // 30 / 60 rounds to 0 minutes
        {31000, "1 minutes"},
        {90000, "2 minutes"},     // 1.5 rounds to 2
        {150000, "2 minutes"},    // 2.5 rounds to 2
        {1800000, "30 minutes"},  // 30 / 60 rounds to 0 hours
        {1860000, "0h 31"},       // hours round to 1, the text splits by whole hours
        {5400000, "1h 30"},
        {9000000, "2h 30"},
        {4294967295u, "1193h 3"},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeText(c.ms, 0, 0), c.text) << c.ms;
}

TEST(TimeText, EstimateFromAverageSpeed) {
    const struct {
        uint32_t ms, done, total;
        const char* text;
    } cases[] = {
        {10000, 1000, 3000, "20 sec."},
        {10000, 3000, 3000, "0 sec."},
        {1000, 1, 61, "1 minutes"},
        // 8e9 ms does not fit 32 bits: the estimate wraps to 3,705,032,704 ms.
        {4000000000u, 1, 3, "1029h 11"},
        // No total, or a total below what is already done: no estimate.
        {10000, 1000, 0, "-"},
        {10000, 3000, 2999, "-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeText(c.ms, c.done, c.total), c.text)
            << c.ms << " " << c.done << " " << c.total;
}

}  // namespace
