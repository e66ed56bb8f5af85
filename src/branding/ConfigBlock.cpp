#include "branding/ConfigBlock.h"

#include "signing/Signature.h"

namespace branding {

namespace {

bool AllZero(const std::string& bytes, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (bytes[i] != '\0') return false;
    return true;
}

}  // namespace

bool IsUpdateUrl(const std::string& url) {
    size_t host = 0;
    if (url.compare(0, 7, "http://") == 0) host = 7;
    else if (url.compare(0, 8, "https://") == 0) host = 8;
    else return false;
    if (url.size() >= kUrlSize || url.size() <= host || url[host] == '/' || url.back() != '/')
        return false;
    // Printable ASCII that a URL may hold as it is: no blank, quote, backslash or the like,
    // which would have to be escaped to mean what they seem to.
    for (const char c : url)
        if (c <= ' ' || c > '~' || std::string("\"\\<>^`{|}").find(c) != std::string::npos) return false;
    return true;
}

BlockState ReadBlock(const std::string& block, std::string& url, std::string& key) {
    if (block.size() != kBlockSize) return BlockState::Malformed;
    if (AllZero(block, kUrlOffset, kBlockSize)) return BlockState::Unset;
    const size_t end = block.find('\0', kUrlOffset);
    if (end == std::string::npos || end >= kKeyOffset) return BlockState::Malformed;
    const std::string text = block.substr(kUrlOffset, end - kUrlOffset);
    // One spelling per configuration: nothing hides behind the URL's zero or the key.
    if (!IsUpdateUrl(text) || !AllZero(block, end, kKeyOffset) ||
        !AllZero(block, kKeyOffset + kKeySize, kBlockSize))
        return BlockState::Malformed;
    std::string der;
    if (!AllZero(block, kKeyOffset, kKeyOffset + kKeySize)) {
        std::string point;
        der = block.substr(kKeyOffset, kKeySize);
        if (!signing::P256PublicKeyFromDer(der, point)) return BlockState::Malformed;
    }
    url = text;
    key = der;
    return BlockState::Set;
}

std::string BlockBody(const std::string& url, const std::string& key) {
    std::string body(kBlockSize - kMarkerSize, '\0');
    body.replace(0, url.size(), url);
    body.replace(kKeyOffset - kMarkerSize, key.size(), key);
    return body;
}

}  // namespace branding
