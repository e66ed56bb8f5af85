#pragma once
// publish brand: a copy of the generic launcher with its configuration block filled (the
// update server's base URL, optionally the vendor's public key) and, when asked, the company
// and product names of its version resource. Portable: bytes in, bytes out; every refusal
// is a text in `error`.
#include <string>
#include <vector>

namespace publish {

struct BrandRequest {
    std::string input, output;      // GENERIC.exe, OUT.exe
    std::string url;                // --url
    std::string keyPath;            // --key (empty: unsigned updates)
    std::string company, product;   // --company, --product (empty: left as they are)
    bool hasCompany = false, hasProduct = false;
};

// The arguments after "brand": GENERIC.exe OUT.exe --url URL [--key PUBLIC.pem]
// [--company NAME] [--product NAME], each option at most once. False with a text in `error`
// when they do not have that form.
bool ParseBrandArguments(const std::vector<std::string>& args, BrandRequest& request,
                         std::string& error);

// What the copy gets. `keyPem` is the text of the --key file (empty without one).
struct Branding {
    std::string url;
    std::string keyPem;
    std::string company, product;
    bool hasCompany = false, hasProduct = false;
};

// The branded copy of `program`, all or nothing. Refuses: a file that is not a Windows
// program; one that carries an Authenticode signature (brand first, then sign); a URL that
// is not http(s), has no host, does not end in "/" or is longer than 255 bytes; a key that
// is not an ECDSA P-256 public key; a program without exactly one configuration block, or
// whose block is already filled; a name that is empty, too long or holds a control
// character, or whose field is missing or filled already.
bool Brand(const std::string& program, const Branding& branding, std::string& branded,
           std::string& error);

// True when the PE file's certificate table (the Authenticode signature) is not empty.
// `program` must be a Windows program.
bool HasAuthenticodeSignature(const std::string& program);

// The UTF-16 code units of a name given on the command line: UTF-8 when it is valid UTF-8,
// else Windows-1252 (what publish.exe receives on Windows). False for an empty name, a
// control character, a character outside the Basic Multilingual Plane, or more than
// `maxUnits` units.
bool NameToUtf16(const std::string& name, size_t maxUnits, std::u16string& units);

}  // namespace publish
