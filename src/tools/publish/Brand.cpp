#include "tools/publish/Brand.h"

#include <cstdint>

#include "branding/ConfigBlock.h"
#include "signing/Signature.h"

namespace publish {

namespace {

// Reserved in the version resource: 63 blanks and a zero (cmake/VersionResource.cmake).
constexpr size_t kNameUnits = 64;

uint32_t Le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

void PutLe(std::string& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Utf16Bytes(const std::u16string& units) {
    std::string bytes;
    for (const char16_t u : units) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

// Where the PE headers are; false when `b` is not a Windows program.
struct PeHeaders {
    size_t optional = 0;    // the optional header
    size_t directories = 0; // its data directories
    uint32_t directoryCount = 0;
    size_t end = 0;         // the first byte after the optional header
};

bool FindPeHeaders(const std::string& b, PeHeaders& h) {
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
    const size_t pe = Le(b, 0x3C, 4);
    if (pe < 0x40 || pe > b.size() || b.size() - pe < 24 || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    const size_t optionalSize = Le(b, pe + 20, 2);
    h.optional = pe + 24;
    if (b.size() - h.optional < optionalSize || optionalSize < 2) return false;
    h.end = h.optional + optionalSize;
    const uint32_t magic = Le(b, h.optional, 2);
    size_t countAt = 0;
    if (magic == 0x10B) countAt = 92, h.directories = h.optional + 96;
    else if (magic == 0x20B) countAt = 108, h.directories = h.optional + 112;
    else return false;
    if (optionalSize < countAt + 4) return false;
    h.directoryCount = Le(b, h.optional + countAt, 4);
    // Only the directories that fit in the optional header count.
    const size_t before = h.directories - h.optional;
    const size_t fit = optionalSize > before ? (optionalSize - before) / 8 : 0;
    if (h.directoryCount > fit) h.directoryCount = static_cast<uint32_t>(fit);
    return true;
}

// All occurrences of `pattern` in `b`, at most two (one is what is wanted).
std::vector<size_t> FindAtMostTwo(const std::string& b, const std::string& pattern) {
    std::vector<size_t> found;
    for (size_t at = b.find(pattern); at != std::string::npos && found.size() < 2;
         at = b.find(pattern, at + 1))
        found.push_back(at);
    return found;
}

// The offset of the reserved value of the version resource's string `key`, or false.
bool FindReservedName(const std::string& b, const std::string& key, size_t& value, std::string& error) {
    std::u16string wide(key.begin(), key.end());
    wide += u'\0';
    const size_t valueOffset = (6 + 2 * wide.size() + 3) / 4 * 4;
    std::string header(6, '\0');
    PutLe(header, 0, static_cast<uint32_t>(valueOffset + 2 * kNameUnits), 2);  // wLength
    PutLe(header, 2, kNameUnits, 2);                                          // wValueLength
    PutLe(header, 4, 1, 2);                                                   // wType: text
    const auto found = FindAtMostTwo(b, header + Utf16Bytes(wide));
    if (found.size() != 1) {
        error = found.empty() ? "the program has no reserved " + key + " in its version resource"
                              : "the program has more than one reserved " + key;
        return false;
    }
    value = found[0] + valueOffset;
    if (value > b.size() || b.size() - value < 2 * kNameUnits) {
        error = "the program's reserved " + key + " runs past the end of the file";
        return false;
    }
    const std::u16string blanks(kNameUnits - 1, u' ');
    if (
        b.compare(value, 2 * kNameUnits, Utf16Bytes(blanks + u'\0')) != 0) {
        error = "the program's " + key + " is set already";
        return false;
    }
    return true;
}

bool SetName(std::string& b, const PeHeaders& h, const std::string& key, const std::string& name,
             std::string& error) {
    std::u16string units;
    if (!NameToUtf16(name, kNameUnits - 1, units)) {
        error = "the " + key + " must be 1 to " + std::to_string(kNameUnits - 1) +
                " characters without control characters: " + name;
        return false;
    }
    size_t value = 0;
    if (!FindReservedName(b, key, value, error)) return false;
    // The headers, the checksum among them, are rewritten after the names: a name there
    // would be lost, or would break the program.
    if (value < h.end) {
        error = "the program's reserved " + key + " lies in its PE headers";
        return false;
    }
    units.resize(kNameUnits, u'\0');
    b.replace(value, 2 * kNameUnits, Utf16Bytes(units));
    return true;
}

// The PE checksum, when the linker wrote one: sum of 16-bit words with the carries folded
// in, the checksum field counted as zero, plus the file size.
void UpdateChecksum(std::string& b, const PeHeaders& h) {
    const size_t field = h.optional + 64;
    if (Le(b, field, 4) == 0) return;
    PutLe(b, field, 0, 4);
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
        sum += Le(b, i, 2);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (b.size() % 2) sum += static_cast<unsigned char>(b.back());
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    PutLe(b, field, static_cast<uint32_t>(sum + b.size()), 4);
}

// Windows-1252's characters at 0x80..0x9F; 0 where it has none.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool DecodeUtf8(const std::string& s, std::u32string& out) {
    out.clear();
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || s.size() - i <= static_cast<size_t>(extra)) return false;
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Shortest form only, no surrogates.
        static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out += cp;
        i += 1 + extra;
    }
    return true;
}

}  // namespace

bool NameToUtf16(const std::string& name, size_t maxUnits, std::u16string& units) {
    std::u32string points;
    if (!DecodeUtf8(name, points)) {
        points.clear();
        for (const char ch : name) {
            const auto c = static_cast<unsigned char>(ch);
            const char32_t cp = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
            if (cp == 0) return false;
            points += cp;
        }
    }
    units.clear();
    for (const char32_t cp : points) {
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp > 0xFFFF) return false;
        units += static_cast<char16_t>(cp);
    }
    return !units.empty() && units.size() <= maxUnits;
}

bool ParseBrandArguments(const std::vector<std::string>& args, BrandRequest& r, std::string& error) {
    if (args.size() < 2) {
        error = "brand needs GENERIC.exe and OUT.exe";
        return false;
    }
    r = BrandRequest{};
    r.input = args[0];
    r.output = args[1];
    bool hasUrl = false, hasKey = false;
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            error = option + " needs a value";
            return false;
        }
        const std::string& value = args[i + 1];
        bool* seen = option == "--url"       ? &hasUrl
                     : option == "--key"     ? &hasKey
                     : option == "--company" ? &r.hasCompany
                     : option == "--product" ? &r.hasProduct
                                             : nullptr;
        if (!seen || *seen) {
            error = seen ? option + " is given twice" : "unknown option " + option;
            return false;
        }
        *seen = true;
        std::string& field = option == "--url"       ? r.url
                             : option == "--key"     ? r.keyPath
                             : option == "--company" ? r.company
                                                     : r.product;
        field = value;
    }
    if (!hasUrl) {
        error = "brand needs --url";
        return false;
    }
    if (hasKey && r.keyPath.empty()) {
        error = "--key needs a file";
        return false;
    }
    if (r.input == r.output) {
        error = "OUT.exe must not be GENERIC.exe: the generic launcher is kept for the next brand";
        return false;
    }
    return true;
}

bool HasAuthenticodeSignature(const std::string& program) {
    PeHeaders h;
    if (!FindPeHeaders(program, h) || h.directoryCount <= 4) return false;
    const size_t security = h.directories + 4 * 8;
    return Le(program, security, 4) != 0 || Le(program, security + 4, 4) != 0;
}

bool Brand(const std::string& program, const Branding& branding, std::string& branded,
           std::string& error) {
    PeHeaders h;
    if (!FindPeHeaders(program, h)) {
        error = "not a Windows program (no MZ and PE header)";
        return false;
    }
    if (HasAuthenticodeSignature(program)) {
        error = "the program carries an Authenticode signature, which branding would break: "
                "brand the unsigned program, then sign the copy";
        return false;
    }
    if (!branding::IsUpdateUrl(branding.url)) {
        error = "the URL must be http:// or https://, name a host, end in / and be at most 255 "
                "characters without blanks: " + branding.url;
        return false;
    }
    std::string key;
    if (!branding.keyPem.empty()) {
        std::string point;
        if (!signing::P256PublicKeyFromPem(branding.keyPem, point)) {
            error = "the key is not an ECDSA P-256 public key (PEM \"PUBLIC KEY\")";
            return false;
        }
        key = signing::P256PublicKeyToDer(point);
    }
    const auto found = FindAtMostTwo(program, std::string(BRANDING_MARKER, branding::kMarkerSize));
    if (found.size() != 1) {
        error = found.empty() ? "the program has no configuration block: not a generic launcher"
                              : "the program has more than one configuration block";
        return false;
    }
    const size_t at = found[0];
    if (program.size() - at < branding::kBlockSize) {
        error = "the program's configuration block is cut short";
        return false;
    }
    if (at < h.end) {
        error = "the program's configuration block lies in its PE headers";
        return false;
    }
    std::string url, oldKey;
    switch (branding::ReadBlock(program.substr(at, branding::kBlockSize), url, oldKey)) {
    case branding::BlockState::Set:
        error = "the program is branded already (for " + url + "); brand the generic launcher";
        return false;
    case branding::BlockState::Malformed:
        error = "the program's configuration block is damaged";
        return false;
    case branding::BlockState::Unset:
        break;
    }
    std::string copy = program;
    copy.replace(at + branding::kMarkerSize, branding::kBlockSize - branding::kMarkerSize,
                 branding::BlockBody(branding.url, key));
    if (branding.hasCompany && !SetName(copy, h, "CompanyName", branding.company, error)) return false;
    if (branding.hasProduct && !SetName(copy, h, "ProductName", branding.product, error)) return false;
    UpdateChecksum(copy, h);
    branded.swap(copy);
    return true;
}

}  // namespace publish
