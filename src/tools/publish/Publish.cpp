// publish: the vendor's command for signed updates.
//
//   publish keygen KEY.pem PUBLIC.pem
//   publish brand GENERIC.exe OUT.exe --url URL [--key PUBLIC.pem] [--company NAME] [--product NAME]
//   publish NAME PROGRAM.exe FOLDER [--key KEY.pem] [--stamp "YYYY-MM-DD hh:mm:ss"]
//   publish NAME PROGRAM-FOLDER FOLDER [--key KEY.pem] [--stamp "YYYY-MM-DD hh:mm:ss"]
//
// The third form writes FOLDER/NAME.bin, with --key FOLDER/NAME.sig, and last FOLDER/NAME.txt
// (the manifest: stamp, SHA-256 and size of NAME.bin; NAME.sig signs it), each synced under
// a new temporary name first, so a server that copies the folder at any moment never offers
// a manifest before the program and signature that go with it. The last form: FolderPublish.h.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "signing/Sha256.h"
#include "signing/Signature.h"
#include "tools/publish/Brand.h"
#include "tools/publish/FolderFiles.h"
#include "tools/publish/FolderPublish.h"
#include "tools/publish/Keys.h"
#ifdef _WIN32
#include "platform/win32/SystemLibraries.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: publish keygen KEY.pem PUBLIC.pem\n"
    "       publish brand GENERIC.exe OUT.exe --url URL [--key PUBLIC.pem] [--company NAME] [--product NAME]\n"
    "       publish NAME PROGRAM.exe FOLDER [--key KEY.pem] [--stamp \"YYYY-MM-DD hh:mm:ss\"]\n"
    "       publish NAME PROGRAM-FOLDER FOLDER [--key KEY.pem] [--stamp \"YYYY-MM-DD hh:mm:ss\"]\n"
    "\n"
    "keygen writes a new ECDSA P-256 key pair: KEY.pem (private, readable by you only; keep it\n"
    "off the update server) and PUBLIC.pem (brand the launcher with it).\n"
    "brand writes OUT.exe, a copy of the generic launcher that updates from URL (http or https,\n"
    "ending in /) and, with --key, installs only updates signed with KEY.pem; --company and\n"
    "--product set the names in its version resource. Brand first, then sign OUT.exe.\n"
    "The third form publishes PROGRAM.exe as the update of NAME.exe: it writes FOLDER/NAME.bin,\n"
    "with --key FOLDER/NAME.sig (the signature over NAME.txt), and last FOLDER/NAME.txt, the\n"
    "manifest: the stamp (--stamp or the current UTC time, greater than the one it replaces)\n"
    "and the SHA-256 and size of NAME.bin. Without --key it is for launchers without a key.\n"
    "The last form publishes a program of many files (NAME.exe at the top of PROGRAM-FOLDER):\n"
    "each file goes to FOLDER/NAME.files/<its SHA-256> unless it is there already, then\n"
    "FOLDER/NAME.sig (with --key) and last FOLDER/NAME.txt, the stamp and one line per file.\n";

struct Failure {
    std::string text;
};

bool ReadFile(const std::string& path, std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Writes `bytes` to `path` through a temporary name created new beside it, so `path` is
// either what it was or the whole new file. `replace`: an existing `path` gives way; else
// the write fails when anything is there.
void PutFile(const std::string& path, const std::string& bytes, bool replace, bool ownerOnly = false) {
    std::string temp, error;
    for (int n = 0; n < 100 && temp.empty(); ++n) {
        const std::string candidate = path + "." + std::to_string(n) + ".tmp";
        if (!publish::PathTaken(candidate)) temp = candidate;
    }
    if (temp.empty()) throw Failure{"cannot write " + path + " (no free temporary name beside it)"};
    if (!publish::WriteNewFile(temp, bytes, ownerOnly, error))
        throw Failure{"cannot write " + path + " (" + error + ")"};
    if (!publish::PutInPlace(temp, path, replace, error)) {
        std::remove(temp.c_str());
        throw Failure{"cannot write " + path + " (" + error + ")"};
    }
}

// A Windows executable: the MZ header, and the PE signature where it points.
bool IsWindowsExecutable(const std::string& bytes) {
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    uint32_t pe = 0;
    for (int i = 3; i >= 0; --i) pe = (pe << 8) | static_cast<unsigned char>(bytes[0x3C + i]);
    return pe >= 0x40 && pe <= bytes.size() - 4 && bytes.compare(pe, 4, std::string("PE\0\0", 4)) == 0;
}

// "YYYY-MM-DD hh:mm:ss" with fields in their ranges: the launcher compares stamps as text,
// so only this one form orders the same way as time.
bool IsStamp(const std::string& s) {
    const char* form = "dddd-dd-dd dd:dd:dd";
    if (s.size() != 19) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (form[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != form[i]) return false;
    }
    auto field = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
    const int month = field(5), day = field(8);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && field(11) < 24 && field(14) < 60 &&
           field(17) < 60;
}

std::string CurrentUtcStamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32] = {};
    if (!utc || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", utc) != 19)
        throw Failure{"cannot read the clock"};
    return text;
}

// The first line of a stamp file, as the launcher reads it.
std::string FirstLine(const std::string& bytes) {
    return bytes.substr(0, bytes.find_first_of(std::string("\r\n\0", 3)));
}

// A file name without folder parts, so NAME cannot write outside FOLDER.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\:*?\"<>|") == std::string::npos;
}

std::string JoinPath(const std::string& folder, const std::string& file) {
    if (folder.empty()) return file;
    const char last = folder.back();
    return (last == '/' || last == '\\') ? folder + file : folder + "/" + file;
}

int KeyGen(const std::string& keyPath, const std::string& publicPath) {
    // An existing private key is the vendor's identity: never overwrite one, readable or not,
    // and never write through a link planted in its place.
    for (const auto& p : {keyPath, publicPath})
        if (publish::PathTaken(p)) throw Failure{p + " exists already; not overwritten"};
    std::string privatePem, publicPem, error;
    if (!publish::GenerateKeyPair(privatePem, publicPem, error)) throw Failure{error};
    PutFile(keyPath, privatePem, false, true);
    PutFile(publicPath, publicPem, false);
    std::printf("wrote %s (private, owner only) and %s\n", keyPath.c_str(), publicPath.c_str());
    return 0;
}

int Publish(const std::string& name, const std::string& programPath, const std::string& folder,
            const std::string& keyPath, std::string stamp) {
    if (!IsPlainName(name)) throw Failure{"NAME must be a plain file name: " + name};
    std::string program, keyPem, d, point;
    if (!ReadFile(programPath, program)) throw Failure{"cannot read " + programPath};
    if (!IsWindowsExecutable(program))
        throw Failure{programPath + " is not a Windows executable (no MZ and PE header)"};
    if (program.size() > 0xFFFFFFFFu) throw Failure{programPath + " is 4 GiB or larger"};
    const bool sign = !keyPath.empty();
    if (sign && !ReadFile(keyPath, keyPem)) throw Failure{"cannot read " + keyPath};
    if (sign && !signing::P256PrivateKeyFromPem(keyPem, d, point))
        throw Failure{keyPath + " is not an unencrypted ECDSA P-256 private key (PEM)"};

    if (stamp.empty()) stamp = CurrentUtcStamp();
    if (!IsStamp(stamp)) throw Failure{"the stamp must have the form YYYY-MM-DD hh:mm:ss: " + stamp};
    const std::string txtPath = JoinPath(folder, name + ".txt");
    std::string previous;
    if (ReadFile(txtPath, previous) && !(stamp > FirstLine(previous)))
        throw Failure{"the stamp " + stamp + " is not greater than " + FirstLine(previous) + " in " +
                      txtPath + "; clients would not update"};

    const std::string txt = stamp + "\r\nsha256 " + signing::Sha256Hex(program) + "\r\nsize " +
                            std::to_string(program.size()) + "\r\n";
    std::string der, rs, error;
    if (sign && !publish::Sign(keyPem, txt, der, error)) throw Failure{error};
    if (sign && !signing::P256SignatureFromDer(der, rs)) throw Failure{"the signature came out malformed"};

    PutFile(JoinPath(folder, name + ".bin"), program, true);
    // An unsigned release leaves no signature of an earlier one beside it.
    const std::string sigPath = JoinPath(folder, name + ".sig");
    if (sign)
        PutFile(sigPath, der, true);
    else
        std::remove(sigPath.c_str());
    PutFile(txtPath, txt, true);
    std::printf("published %s as %s.bin, %s%s.txt in %s, stamp %s\n", programPath.c_str(), name.c_str(),
                sign ? (name + ".sig and ").c_str() : "", name.c_str(), folder.c_str(), stamp.c_str());
    return 0;
}

int PublishFolderCommand(const std::string& name, const std::string& programFolder,
                         const std::string& folder, const std::string& keyPath, std::string stamp) {
    publish::FolderRelease release{name, programFolder, folder, stamp, ""};
    if (release.stamp.empty()) release.stamp = CurrentUtcStamp();
    if (!IsStamp(release.stamp))
        throw Failure{"the stamp must have the form YYYY-MM-DD hh:mm:ss: " + release.stamp};
    if (!keyPath.empty() && !ReadFile(keyPath, release.keyPem)) throw Failure{"cannot read " + keyPath};
    const publish::PublishTools tools{ReadFile, IsWindowsExecutable,
                                      [](const std::string& path, const std::string& bytes) {
                                          PutFile(path, bytes, true);
                                      }};
    std::string report, error;
    if (!publish::PublishFolder(release, tools, report, error)) throw Failure{error};
    std::fputs(report.c_str(), stdout);
    return 0;
}

int BrandCommand(const std::vector<std::string>& args) {
    publish::BrandRequest request;
    std::string error;
    if (!publish::ParseBrandArguments(args, request, error)) throw Failure{error};
    publish::Branding branding;
    branding.url = request.url;
    branding.company = request.company;
    branding.product = request.product;
    branding.hasCompany = request.hasCompany;
    branding.hasProduct = request.hasProduct;
    std::string program, branded;
    if (!ReadFile(request.input, program)) throw Failure{"cannot read " + request.input};
    if (!request.keyPath.empty() && !ReadFile(request.keyPath, branding.keyPem))
        throw Failure{"cannot read " + request.keyPath};
    if (!publish::Brand(program, branding, branded, error)) throw Failure{request.input + ": " + error};
    PutFile(request.output, branded, true);
    const std::string updates = request.keyPath.empty() ? std::string("any update")
                                                        : "updates signed with the key of " + request.keyPath;
    std::printf("wrote %s: installs %s from %s\n", request.output.c_str(), updates.c_str(),
                request.url.c_str());
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 3 && args[0] == "keygen") return KeyGen(args[1], args[2]);
    if (!args.empty() && args[0] == "brand") return BrandCommand({args.begin() + 1, args.end()});
    if (args.size() < 3) throw Failure{""};
    std::string key, stamp;
    bool stampGiven = false;
    for (size_t i = 3; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) throw Failure{""};
        if (args[i] == "--key" && key.empty()) {
            key = args[i + 1];
        } else if (args[i] == "--stamp" && !stampGiven) {
            stamp = args[i + 1];
            stampGiven = true;
            if (stamp.empty()) throw Failure{"the stamp must not be empty"};
        } else {
            throw Failure{""};
        }
    }
    if (publish::IsFolder(args[1])) return PublishFolderCommand(args[0], args[1], args[2], key, stamp);
    return Publish(args[0], args[1], args[2], key, stamp);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // bcrypt.dll is delay-imported: it must come from the system folder, never from a
    // Downloads folder that publish.exe was started from.
    RestrictLibrarySearchToSystemFolder();
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return Run(args);
    } catch (const Failure& f) {
        if (f.text.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        std::fprintf(stderr, "publish: %s\n", f.text.c_str());
        return 1;
    }
}
