// Components, string lists, numbers, dates and the application's text rules.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "FrameworkFixture.h"
#include "framework/Component.h"
#include "framework/DateTime.h"
#include "framework/Exceptions.h"
#include "framework/Strings.h"

namespace {

struct Tracked : TComponent {
    Tracked(TComponent* owner, std::string name, std::vector<std::string>& log)
        : TComponent(owner), log_(log) {
        Name = std::move(name);
    }
    ~Tracked() override { log_.push_back(Name); }
    std::vector<std::string>& log_;
};

}  // namespace

TEST(FrameworkComponent, OwnerDestroysOwnedLastCreatedFirstAndDepthFirst) {
    std::vector<std::string> log;
    auto* root = new Tracked(nullptr, "root", log);
    auto* a = new Tracked(root, "a", log);
    new Tracked(a, "a1", log);
    new Tracked(a, "a2", log);
    auto* b = new Tracked(root, "b", log);
    new Tracked(root, "c", log);
    ASSERT_EQ(root->ComponentCount(), 3);
    EXPECT_EQ(root->Components(1), b);

    delete b;  // leaves its owner's list
    ASSERT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(root->Components(1)->Name, "c");

    delete root;
    // Logged as each destructor starts: the owner first, then what it owns, newest first.
    EXPECT_EQ(log, (std::vector<std::string>{"b", "root", "c", "a", "a2", "a1"}));
}

TEST(FrameworkComponent, ComponentsOutOfRangeRaisesListError) {
    TComponent owner(nullptr);
    new TComponent(&owner);
    for (int index : {-1, 1, 5}) {
        try {
            owner.Components(index);
            ADD_FAILURE() << "no error for index " << index;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(index) + ")");
            EXPECT_STREQ(e.ClassName(), "EListError");
        }
    }
}

TEST(FrameworkStrings, SetTextSplitsAtEveryLineBreakAndStopsAtZero) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\n", {"one"}},
        {"one\r\ntwo", {"one", "two"}},
        {"one\ntwo\rthree", {"one", "two", "three"}},
        {"a\n\rb", {"a", "", "b"}},  // LF CR is two breaks
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\r\n\r\nx", {"", "", "x"}},
        {std::string("2013-07-18 10:00:00\0tail\r\nmore", 31), {"2013-07-18 10:00:00"}},
        {std::string("\0abc", 4), {}},
        {"last \r\n", {"last "}},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.Add("stale");
        list.SetText(c.text);
        EXPECT_EQ(list.Lines(), c.lines) << "text: " << testing::PrintToString(c.text);
    }
}

TEST(FrameworkStrings, IndexOutOfRangeRaisesStringListErrorWithTheIndex) {
    TStringList list;
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    try {
        list.Strings(0);
        ADD_FAILURE() << "no error";
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (0)");
        EXPECT_STREQ(e.ClassName(), "EStringListError");
    }
    list.SetText("x\ny");
    EXPECT_EQ(list[1], "y");
    EXPECT_THROW(list[2], EStringListError);
    EXPECT_THROW(list[-1], EStringListError);
}

TEST(FrameworkStrings, RoundHalfEven) {
    const struct {
        double in;
        long long out;
    } cases[] = {{0.5, 0},   {1.5, 2},   {2.5, 2},   {3.5, 4},     {-0.5, 0},  {-1.5, -2},
                 {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-2.5001, -3}, {99.5, 100}, {100.5, 100},
                 {0.0, 0},   {7.0, 7},    {44.9, 45},  {4294967295.5, 4294967296LL}};
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
}

TEST(FrameworkStrings, FormatFixed2UsesTheDecimalSeparator) {
    const char saved = DecimalSeparator;
    DecimalSeparator = ',';
    EXPECT_EQ(FormatFixed2(1.5), "1,50");
    EXPECT_EQ(FormatFixed2(1023.456), "1023,46");
    EXPECT_EQ(FormatFixed2(0), "0,00");
    DecimalSeparator = '.';
    EXPECT_EQ(FormatFixed2(12.345678), "12.35");
    DecimalSeparator = saved;
}

TEST(FrameworkStrings, TryStrToFloat) {
    const struct {
        const char* text;
        char point;
        bool ok;
        double value;
    } cases[] = {
        {"1.5", '.', true, 1.5},   {"1,5", ',', true, 1.5},   {"1,5", '.', false, 0},
        {"1.5", ',', false, 0},    {" -2 ", '.', true, -2},   {"+.25", '.', true, 0.25},
        {"3.", '.', true, 3},      {"1e3", '.', true, 1000},  {"1E-2", '.', true, 0.01},
        {"", '.', false, 0},       {".", '.', false, 0},      {"1e", '.', false, 0},
        {"12abc", '.', false, 0},  {"1 2", '.', false, 0},    {"-", '.', false, 0},
    };
    for (const auto& c : cases) {
        double value = -99;
        EXPECT_EQ(TryStrToFloat(c.text, value, c.point), c.ok) << c.text;
        EXPECT_DOUBLE_EQ(value, c.ok ? c.value : -99) << c.text;
    }
}

TEST(FrameworkDateTime, KnownDatesAndRoundTrips) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
    EXPECT_EQ(EncodeDate(2013, 7, 18), 41473);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593);

    const int dates[][3] = {{1, 1, 1},    {1600, 2, 29}, {1899, 12, 29}, {1899, 12, 31},
                            {1900, 2, 28}, {1900, 3, 1},  {2000, 2, 29},  {2000, 12, 31},
                            {2001, 1, 1},  {2024, 2, 29}, {2100, 3, 1},   {9999, 12, 31}};
    for (const auto& d : dates) {
        // Before day 0 the time of day counts away from zero.
        const TDateTime date = EncodeDate(d[0], d[1], d[2]);
        const TDateTime dt = date < 0 ? date - EncodeTime(13, 45, 7, 250)
                                      : date + EncodeTime(13, 45, 7, 250);
        int y, m, day, h, min, s, ms;
        DecodeDate(dt, y, m, day);
        DecodeTime(dt, h, min, s, ms);
        EXPECT_EQ((std::vector<int>{y, m, day, h, min, s, ms}),
                  (std::vector<int>{d[0], d[1], d[2], 13, 45, 7, 250}))
            << d[0] << "-" << d[1] << "-" << d[2];
    }
}

TEST(FrameworkDateTime, TimeRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
    int y, m, d, h, min, s, ms;
    const TDateTime almostMidnight = EncodeDate(2001, 12, 31) + (86400000.0 - 0.2) / 86400000.0;
    DecodeDate(almostMidnight, y, m, d);
    DecodeTime(almostMidnight, h, min, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, h, min, s, ms}),
              (std::vector<int>{2002, 1, 1, 0, 0, 0, 0}));
    DecodeTime(EncodeTime(23, 59, 59, 999), h, min, s, ms);
    EXPECT_EQ((std::vector<int>{h, min, s, ms}), (std::vector<int>{23, 59, 59, 999}));
}

TEST(FrameworkDateTime, InvalidArgumentsRaiseConvertError) {
    const int badDates[][3] = {{0, 1, 1},     {10000, 1, 1}, {2001, 0, 1}, {2001, 13, 1},
                               {2001, 2, 29}, {1900, 2, 29}, {2001, 4, 31}, {2001, 1, 0}};
    for (const auto& d : badDates) {
        TDateTime out = -1;
        EXPECT_FALSE(TryEncodeDate(d[0], d[1], d[2], out));
        try {
            EncodeDate(d[0], d[1], d[2]);
            ADD_FAILURE() << d[0] << "-" << d[1] << "-" << d[2];
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to date encode");
        }
    }
    const int badTimes[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000},
                               {-1, 0, 0, 0}};
    for (const auto& t : badTimes) {
        try {
            EncodeTime(t[0], t[1], t[2], t[3]);
            ADD_FAILURE() << t[0] << ":" << t[1] << ":" << t[2] << "." << t[3];
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to time encode");
        }
    }
}

TEST(FrameworkTexts, TitleFromProgramPath) {
    const struct {
        const char* path;
        const char* title;
    } cases[] = {
        {"C:\\Program Files\\KASSA.EXE", "Kassa"},
        {"C:\\x\\kassa.exe", "kassa"},
        {"C:\\x.y\\a.b.exe", "a"},
        {"D:\\apps\\MyApp", "Myapp"},
        {"Starter.exe", "Starter"},
        {"C:\\x\\\xc4PPLE.EXE", "\xc4pple"},  // first letter kept as it is
        {"C:\\x\\K\xd6P\xc5.exe", "K\xf6p\xe5"},  // Windows-1252 capitals lowered
        {"C:\\x\\.hidden", ""},
        {"C:Kassa.exe", "Kassa"},
    };
    for (const auto& c : cases) EXPECT_EQ(TitleFromProgramPath(c.path), c.title) << c.path;
}

TEST(FrameworkTexts, WithFinalPeriod) {
    EXPECT_EQ(WithFinalPeriod("List index out of bounds (0)"), "List index out of bounds (0).");
    EXPECT_EQ(WithFinalPeriod("Done."), "Done.");
    EXPECT_EQ(WithFinalPeriod("Wait..."), "Wait...");
    EXPECT_EQ(WithFinalPeriod("Really?"), "Really?.");
}

class FrameworkReports : public FrameworkTest {};

TEST_F(FrameworkReports, InitializeTakesTheTitleFromTheProgramPath) {
    EXPECT_EQ(Application->Title, "Test");
    headless::SetProgramPath("C:\\apps\\KASSA.EXE");
    Application->Initialize();
    EXPECT_EQ(Application->Title, "Kassa");
}

TEST_F(FrameworkReports, ShowMessageAndShowException) {
    Application->Title = "Kassa";
    Application->ShowMessage("Hej");
    Application->ShowException(EFOpenError(Format(rtl_messages::FOpenError, "C:\\a.dat")));
    Application->ShowException(std::runtime_error("plain."));
    const auto& calls = headless::MessageBoxCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].text, "Hej");
    EXPECT_EQ(calls[0].caption, "Kassa");
    EXPECT_EQ(calls[0].flags, MB_OK_);
    EXPECT_EQ(calls[1].text, "Cannot open file C:\\a.dat.");
    EXPECT_EQ(calls[1].caption, "Kassa");
    EXPECT_EQ(calls[1].flags, MB_ICONERROR_ | MB_OK_);
    EXPECT_EQ(calls[2].text, "plain.");
}

TEST_F(FrameworkReports, UnhandledExceptionReport) {
    headless::SetProgramPath("C:\\apps\\Kassa.exe");
    EXPECT_EQ(ReportUnhandledException(ERegistryException("Invalid data type for 'AppData'")), 1);
    EXPECT_EQ(ReportUnhandledException(std::runtime_error("boom.")), 1);
    const auto& calls = headless::MessageBoxCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].caption, "Application Error");
    EXPECT_EQ(calls[0].flags, MB_ICONERROR_ | MB_TASKMODAL_ | MB_OK_);
    const std::string prefix = "Exception ERegistryException in module Kassa.exe at ";
    const std::string suffix = ".\r\nInvalid data type for 'AppData'.\r\n";
    const std::string& text = calls[0].text;
    ASSERT_GT(text.size(), prefix.size() + suffix.size());
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
    const std::string address =
        text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    EXPECT_EQ(address.size(), 2 * sizeof(void*));
    EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
    EXPECT_NE(calls[1].text.find("at " + address + ".\r\nboom.\r\n"), std::string::npos)
        << calls[1].text;
}
