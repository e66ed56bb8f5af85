// The launcher's configuration block: which URLs a launcher may be pointed at, and that only
// one spelling of each configuration reads as set.
#include <gtest/gtest.h>

#include <string>

#include "branding/ConfigBlock.h"
#include "signing/Signature.h"

namespace {

using branding::BlockState;

std::string Key() { return signing::P256PublicKeyToDer("\x04" + std::string(64, '\x11')); }

std::string Block(const std::string& body) {
    std::string block = std::string(BRANDING_MARKER, branding::kMarkerSize) + body;
    block.resize(branding::kBlockSize, '\0');
    return block;
}

TEST(UpdateUrl, OnlyHttpOrHttpsWithHostAndTrailingSlash) {
    const std::string longest = "https://" + std::string(246, 'a') + "/";  // 255 bytes
    const struct {
        std::string url;
        bool ok;
    } rows[] = {
        {"http://updates.example.com/kassa/", true},
        {"https://localhost:8443/", true},
        {longest, true},
        {"https://" + std::string(247, 'a') + "/", false},  // 256 bytes
        {"http://updates.example.com/kassa", false},
        {"ftp://updates.example.com/", false},
        {"HTTP://updates.example.com/", false},
        {"http:///kassa/", false},
        {"http://", false},
        {"https://x.example/mina filer/", false},
        {"https://x.example/\tx/", false},
        {"https://x.example/\"x/", false},
        {"https://x.example\\kassa/", false},
        {"https://x.example/{x}/", false},
        {"https://x.example/~anna/k%C3%A4/?a=1&b=2/", true},
        {"https://x.example/r\xe4kna/", false},
        {"", false},
    };
    for (const auto& row : rows) EXPECT_EQ(branding::IsUpdateUrl(row.url), row.ok) << row.url;
}

TEST(ConfigBlock, AllZeroIsUnsetAndAFilledBodyReadsBack) {
    std::string url = "x", key = "x";
    EXPECT_EQ(branding::ReadBlock(Block(""), url, key), BlockState::Unset);

    const std::string body = branding::BlockBody("https://updates.example.com/kassa/", Key());
    ASSERT_EQ(body.size(), branding::kBlockSize - branding::kMarkerSize);
    ASSERT_EQ(branding::ReadBlock(Block(body), url, key), BlockState::Set);
    EXPECT_EQ(url, "https://updates.example.com/kassa/");
    EXPECT_EQ(key, Key());

    ASSERT_EQ(branding::ReadBlock(Block(branding::BlockBody("http://a.example/", "")), url, key),
              BlockState::Set);
    EXPECT_EQ(url, "http://a.example/");
    EXPECT_EQ(key, "");
}

TEST(ConfigBlock, AnythingButOneCanonicalSpellingIsMalformed) {
    const std::string good = branding::BlockBody("https://a.example/", Key());
    auto with = [&](size_t bodyOffset, char byte) {
        std::string body = good;
        body[bodyOffset] = byte;
        return body;
    };
    const size_t keyAt = branding::kKeyOffset - branding::kMarkerSize;
    const struct {
        const char* why;
        std::string block;
    } rows[] = {
        {"bytes after the URL's zero", Block(with(40, 'x'))},
        {"a URL without its zero", Block(std::string(branding::kUrlSize, 'a'))},
        {"a URL that is not one", Block(branding::BlockBody("ftp://a.example/", ""))},
        {"a key changed in its header", Block(with(keyAt, '\x31'))},
        {"a key without a URL", Block(std::string(keyAt, '\0') + Key())},
        {"a byte after the key", Block(with(branding::kBlockSize - branding::kMarkerSize - 1, '\x01'))},
        {"a block cut short", Block(good).substr(0, branding::kBlockSize - 1)},
    };
    for (const auto& row : rows) {
        std::string url = "unchanged", key = "unchanged";
        EXPECT_EQ(branding::ReadBlock(row.block, url, key), BlockState::Malformed) << row.why;
        EXPECT_EQ(url, "unchanged") << row.why;
    }
}

}  // namespace
