// Names, stamps and commands the sequence derives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/RunLog.h"
#include "launcher/uStarter.h"

namespace {

TEST(StarterNames, DeriveEverythingFromTheLauncherFileName) {
    const StarterNames n = MakeStarterNames("C:\\x\\a.b.exe", "C:\\AD", "http://h/u/");
    EXPECT_EQ(n.baseName, "a.b");
    EXPECT_EQ(n.folder, "C:\\AD\\Brakven\\Applikationer\\");
    EXPECT_EQ(n.localStamp, "C:\\AD\\Brakven\\Applikationer\\a.b.dat");
    EXPECT_EQ(n.serverStamp, "C:\\AD\\Brakven\\Applikationer\\a.b.txt");
    EXPECT_EQ(n.newProgram, "C:\\AD\\Brakven\\Applikationer\\a.b.bin");
    EXPECT_EQ(n.managed, "C:\\AD\\Brakven\\Applikationer\\a.b.exe");
    EXPECT_EQ(n.stampUrl, "http://h/u/managedfiles/a.b.txt");
    EXPECT_EQ(n.programUrl, "http://h/u/managedfiles/a.b.bin");
    EXPECT_EQ(n.signature, "C:\\AD\\Brakven\\Applikationer\\a.b.sig");
    EXPECT_EQ(n.signatureUrl, "http://h/u/managedfiles/a.b.sig");
    EXPECT_EQ(n.log, "C:\\AD\\Brakven\\Applikationer\\a.b.log");

    EXPECT_EQ(MakeStarterNames("C:\\x\\noext", "", "u/").baseName, "noext");
    EXPECT_EQ(MakeStarterNames("C:\\x\\k.exe", "", "u/").folder, "\\Brakven\\Applikationer\\");
}

TEST(RunLog, UrlsLoseCredentialsQueriesAndFragments) {
    struct Case { const char* url; const char* logged; };
    const Case cases[] = {
        {"http://h/u/managedfiles/K.txt", "http://h/u/managedfiles/K.txt"},
        {"https://anna:hemlig@h:8443/u/", "https://h:8443/u/"},
        {"http://anna@h/u/", "http://h/u/"},
        {"http://a:b@c@h/u/", "http://h/u/"},            // the last "@" before the path ends them
        {"http://a:p#w?x@h/u/", "http://h/u/"},          // "#" and "?" inside a password
        {"http://a:p@h", "http://h"},
        {"http://a:p@h\\u\\K.txt", "http://h\\u\\K.txt"},  // a backslash ends the host as a slash does
        {"http://h/u/K.txt?token=secret&x=1", "http://h/u/K.txt"},
        {"http://h/u/K.txt#part", "http://h/u/K.txt"},
        {"http://h/u/a@b.txt?k=v@w", "http://h/u/a@b.txt"},  // an "@" in the path is no credential
        {"http://h?x=a@y/z", "http://y/z"},               // unclear: nothing before the "@" stays
        {"anna:hemlig@h/u/", "h/u/"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ScrubUrl(c.url), c.logged) << c.url;
}

TEST(Stamps, ComparedAsUnsignedBytesLongerWins) {
    struct Case { const char* server; const char* local; bool newer; };
    const Case cases[] = {
        {"2013-07-18 10:00:00", "2013-07-18 09:00:00", true},
        {"2013-07-18 09:00:00", "2013-07-18 10:00:00", false},
        {"2013-07-18 10:00:00", "2013-07-18 10:00:00", false},
        {"2013-07-18 10:00:00 ", "2013-07-18 10:00:00", true},
        {"", "2001-01-01 00:00:00", false},
        {"x", "", true},
        {"", "", false},
        {"\xe5", "z", true},  // bytes above 127 compare unsigned
    };
    for (const auto& c : cases)
        EXPECT_EQ(StampIsNewer(c.server, c.local), c.newer) << c.server << " vs " << c.local;
}

TEST(StartCommand, QuotesOnlyPathsWithBlanks) {
    EXPECT_EQ(StartCommand("C:\\A B\\k.exe", "/x "), "\"C:\\A B\\k.exe\" /x ");
    EXPECT_EQ(StartCommand("C:\\AB\\k.exe", ""), "C:\\AB\\k.exe ");
}


TEST(Arguments, SplitByTheWindowsRulesAndQuotedBackTheSameWay) {
    using Args = std::vector<std::string>;
    struct Case { std::string commandLine; Args args; };
    const Case cases[] = {
        {"\"C:\\A B\\k.exe\" /x c:\\data", {"/x", "c:\\data"}},
        {"k.exe \"C:\\Mina filer\\order 7.kas\"", {"C:\\Mina filer\\order 7.kas"}},
        {"\"C:\\A\\\"k.exe \t a\tb  ", {"a", "b"}},  // no escapes in the program name
        {"k.exe \"\" x", {"", "x"}},
        {"k.exe a\\\\b \\\\\\\\\"c d\" e\\\"f \"g\\\\\\\"h\"", {"a\\\\b", "\\\\c d", "e\"f", "g\\\"h"}},
        {"k.exe \"a\"\"b\" \"c\"\"\"", {"a\"b", "c\""}},  // "" inside quotes is a quote
        {"k.exe \"end\\\\\" x\\", {"end\\", "x\\"}},
        {"k.exe a\nb", {"a\nb"}},  // only blanks and tabs separate
        {std::string("k.exe a\0b", 9), {"a"}},
        {"k.exe", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandLineArguments(c.commandLine), c.args) << c.commandLine;
        std::string again = "k.exe";
        for (const auto& a : c.args) again += " " + QuoteArgument(a);
        EXPECT_EQ(CommandLineArguments(again), c.args) << again;
    }
    EXPECT_EQ(QuoteArgument("c:\\data"), "c:\\data");
    EXPECT_EQ(QuoteArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteArgument("C:\\dir x\\"), "\"C:\\dir x\\\\\"");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
}

}  // namespace
