// publish brand on a small stand-in of the generic launcher: a PE header, the configuration
// block and the two reserved version strings laid out as the resource compiler writes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "branding/ConfigBlock.h"
#include "signing/Signature.h"
#include "tools/publish/Brand.h"

namespace {

const std::string kUrl = "https://updates.example.com/kassa/";

std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Utf16(const std::u16string& s) {
    std::string out;
    for (const char16_t c : s) out += Le16(c);
    return out;
}

// A version resource String: wLength, wValueLength 64, wType 1, key, padding, 64 units.
std::string VersionString(const std::u16string& key, const std::u16string& value) {
    std::string s = Le16(0) + Le16(64) + Le16(1) + Utf16(key + u'\0');
    s.resize((s.size() + 3) / 4 * 4, '\0');
    std::u16string v = value;
    v.resize(64, u'\0');
    s += Utf16(v);
    s.replace(0, 2, Le16(static_cast<unsigned>(s.size())));
    return s;
}

const std::u16string kReserved(63, u' ');

// MZ, PE32 headers with 16 data directories, then the block and the version strings.
std::string Launcher(const std::string& blockBody = std::string(368, '\0'), bool versionStrings = true) {
    std::string pe(0x40, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x40;
    pe += std::string("PE\0\0", 4);
    std::string coff(20, '\0');
    coff.replace(16, 2, Le16(224));  // SizeOfOptionalHeader
    pe += coff;
    std::string optional(224, '\0');
    optional.replace(0, 2, Le16(0x10B));
    optional[92] = 16;  // NumberOfRvaAndSizes
    pe += optional;
    pe += "....code....";
    pe += std::string(BRANDING_MARKER, branding::kMarkerSize) + blockBody;
    if (versionStrings)
        pe += "...." + VersionString(u"CompanyName", kReserved) + VersionString(u"FileVersion", u"1.0.0.0") +
              VersionString(u"ProductName", kReserved);
    return pe + "....";
}

std::string PublicPem() { return signing::P256PublicKeyToPem("\x04" + std::string(64, '\x22')); }

publish::Branding Branding(const std::string& url = kUrl) {
    publish::Branding b;
    b.url = url;
    return b;
}

// The block of a branded copy.
branding::BlockState ReadBranded(const std::string& branded, std::string& url, std::string& key) {
    const size_t at = branded.find(std::string(BRANDING_MARKER, branding::kMarkerSize));
    EXPECT_NE(at, std::string::npos);
    return branding::ReadBlock(branded.substr(at, branding::kBlockSize), url, key);
}

TEST(Brand, FillsTheBlockAndTheNamesAndNothingElse) {
    const std::string generic = Launcher();
    publish::Branding b = Branding();
    b.keyPem = PublicPem();
    b.company = "Br\xc3\xa4kven AB";  // UTF-8, as a Linux shell passes it
    b.product = "Kassa";
    b.hasCompany = b.hasProduct = true;
    std::string branded, error;
    ASSERT_TRUE(publish::Brand(generic, b, branded, error)) << error;

    std::string url, key, point;
    ASSERT_EQ(ReadBranded(branded, url, key), branding::BlockState::Set);
    EXPECT_EQ(url, kUrl);
    ASSERT_TRUE(signing::P256PublicKeyFromPem(PublicPem(), point));
    EXPECT_EQ(key, signing::P256PublicKeyToDer(point));
    EXPECT_NE(branded.find(VersionString(u"CompanyName", u"Br\u00e4kven AB")), std::string::npos);
    EXPECT_NE(branded.find(VersionString(u"ProductName", u"Kassa")), std::string::npos);
    EXPECT_NE(branded.find(VersionString(u"FileVersion", u"1.0.0.0")), std::string::npos);
    // Same size, and outside the block's body and the two values every byte as it was.
    ASSERT_EQ(branded.size(), generic.size());
    std::string restored = branded;
    const size_t body = generic.find(std::string(BRANDING_MARKER, branding::kMarkerSize)) + branding::kMarkerSize;
    restored.replace(body, 368, generic, body, 368);
    for (const char16_t* key : {u"CompanyName", u"ProductName"}) {
        const size_t value = generic.find(VersionString(key, kReserved)) + 32;
        restored.replace(value, 128, generic, value, 128);
    }
    EXPECT_EQ(restored, generic);
}

TEST(Brand, WithoutNamesTheReservedFieldsStay) {
    std::string branded, error;
    ASSERT_TRUE(publish::Brand(Launcher(), Branding("http://127.0.0.1:8750/"), branded, error)) << error;
    std::string url, key;
    ASSERT_EQ(ReadBranded(branded, url, key), branding::BlockState::Set);
    EXPECT_EQ(key, "");
    EXPECT_NE(branded.find(VersionString(u"CompanyName", kReserved)), std::string::npos);
}

TEST(Brand, Refusals) {
    std::string signedLauncher = Launcher();
    signedLauncher[0x40 + 4 + 20 + 96 + 4 * 8 + 4] = 0x10;  // certificate table size
    std::string wrongCurve = PublicPem(), der, point;
    {
        ASSERT_TRUE(signing::PemToDer(wrongCurve, "PUBLIC KEY", der));
        der[der.size() - 66] ^= 1;  // the curve's OID, just before the BIT STRING
        wrongCurve = signing::DerToPem(der, "PUBLIC KEY");
        ASSERT_FALSE(signing::P256PublicKeyFromPem(wrongCurve, point));
    }
    const std::string twice = Launcher() + std::string(BRANDING_MARKER, branding::kMarkerSize) + std::string(368, '\0');
    const std::string filled = Launcher(branding::BlockBody("http://other.example/", ""));
    std::string damaged_body(368, '\0');
    damaged_body[300] = 'x';
    std::string companySet = Launcher();
    companySet.replace(companySet.find(VersionString(u"CompanyName", kReserved)), 160,
                       VersionString(u"CompanyName", u"Other AB"));

    // Found by fuzzing: a reserved name whose value would lie past the end of the file, and a
    // block inside the headers, where the checksum written last would overwrite it.
    std::string companyCut = Launcher(std::string(368, '\0'), false) + VersionString(u"CompanyName", kReserved);
    companyCut.resize(companyCut.size() - 128);
    const std::string marker(BRANDING_MARKER, branding::kMarkerSize);
    std::string blockInHeaders = Launcher();
    blockInHeaders.replace(blockInHeaders.find(marker), marker.size(), std::string(marker.size(), 'z'));
    blockInHeaders.replace(0x40 + 24 + 60, marker.size() + 368, marker + std::string(368, '\0'));

    struct Row {
        const char* why;
        std::string program;
        publish::Branding branding;
        const char* says;
    };
    auto named = [](const std::string& company) {
        publish::Branding b = Branding();
        b.company = company;
        b.hasCompany = true;
        return b;
    };
    auto keyed = [](const std::string& pem) {
        publish::Branding b = Branding();
        b.keyPem = pem;
        return b;
    };
    const Row rows[] = {
        {"not a program", "MZ but nothing else", Branding(), "not a Windows program"},
        {"signed", signedLauncher, Branding(), "Authenticode"},
        // Which URLs pass is ConfigBlockTest's; here that a refused one stops the brand.
        {"ftp URL", Launcher(), Branding("ftp://updates.example.com/"), "URL"},
        {"private key", Launcher(), keyed(signing::P256PrivateKeyToPem(std::string(32, '\x01'), "\x04" + std::string(64, '\x22'))), "P-256"},
        {"key on another curve", Launcher(), keyed(wrongCurve), "P-256"},
        {"no block", Launcher().replace(0x40 + 4 + 20 + 224 + 12, 1, "x"), Branding(), "no configuration block"},
        {"two blocks", twice, Branding(), "more than one"},
        {"branded already", filled, Branding(), "branded already (for http://other.example/)"},
        {"damaged block", Launcher(damaged_body), Branding(), "damaged"},
        {"company of 64 characters", Launcher(), named(std::string(64, 'c')), "1 to 63"},
        {"company with a tab", Launcher(), named("Br\tkven"), "1 to 63"},
        {"empty company", Launcher(), named(""), "1 to 63"},
        {"no version strings", Launcher(std::string(368, '\0'), false), named("Brakven"), "no reserved CompanyName"},
        {"company set already", companySet, named("Brakven"), "CompanyName is set already"},
        {"company at the very end", companyCut, named("Brakven"), "runs past the end"},
        {"block over the checksum", blockInHeaders, Branding(), "lies in its PE headers"},
    };
    for (const Row& row : rows) {
        std::string branded = "untouched", error;
        EXPECT_FALSE(publish::Brand(row.program, row.branding, branded, error)) << row.why;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.why << ": " << error;
        EXPECT_EQ(branded, "untouched") << row.why;
    }
}

TEST(Brand, NamesAreUtf8OrWindows1252) {
    const struct {
        std::string name;
        std::u16string units;  // empty: refused
    } rows[] = {
        {"Kassa", u"Kassa"},
        {"Br\xc3\xa4kven \xc3\x85s", u"Br\u00e4kven \u00c5s"},  // UTF-8
        {"Br\xe4kven \xc5s", u"Br\u00e4kven \u00c5s"},          // Windows-1252
        {"\x80 \x96", u"\u20ac \u2013"},                         // its 0x80..0x9F
        {"\xe2\x82\xac", u"\u20ac"},
        {std::string(63, 'x'), std::u16string(63, u'x')},
        {std::string(64, 'x'), u""},
        {"", u""},
        {"a\x01", u""},
        {"a\x7f", u""},
        {"\x81", u""},                     // no character in Windows-1252
        {"\xf0\x9f\x98\x80", u""},         // outside the BMP
    };
    for (const auto& row : rows) {
        std::u16string units = u"unchanged";
        EXPECT_EQ(publish::NameToUtf16(row.name, 63, units), !row.units.empty()) << row.name;
        if (!row.units.empty()) {
            EXPECT_EQ(units, row.units) << row.name;
        }
    }
}

TEST(BrandArguments, EachOptionOnceAndUrlRequired) {
    publish::BrandRequest r;
    std::string error;
    ASSERT_TRUE(publish::ParseBrandArguments({"g.exe", "o.exe", "--url", kUrl, "--key", "p.pem", "--company",
                                              "C", "--product", "P"},
                                             r, error))
        << error;
    EXPECT_EQ(r.input, "g.exe");
    EXPECT_EQ(r.output, "o.exe");
    EXPECT_EQ(r.url, kUrl);
    EXPECT_EQ(r.keyPath, "p.pem");
    EXPECT_TRUE(r.hasCompany && r.hasProduct);
    EXPECT_EQ(r.company + r.product, "CP");

    const std::vector<std::vector<std::string>> bad = {
        {"g.exe"},
        {"g.exe", "o.exe"},
        {"g.exe", "o.exe", "--url"},
        {"g.exe", "o.exe", "--url", kUrl, "--url", kUrl},
        {"g.exe", "o.exe", "--url", kUrl, "--stamp", "x"},
        {"g.exe", "o.exe", "--url", kUrl, "--key", ""},
        {"g.exe", "g.exe", "--url", kUrl},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(publish::ParseBrandArguments(args, r, error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
