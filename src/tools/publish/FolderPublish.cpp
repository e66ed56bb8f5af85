#include "tools/publish/FolderPublish.h"

#include <algorithm>

#include "launcher/FolderManifest.h"
#include "signing/Sha256.h"
#include "signing/Signature.h"
#include "tools/publish/FolderFiles.h"
#include "tools/publish/Keys.h"

namespace publish {
namespace {

std::string Join(const std::string& folder, const std::string& file) {
    if (folder.empty()) return file;
    const char last = folder.back();
    return (last == '/' || last == '\\') ? folder + file : folder + "/" + file;
}

bool Refuse(std::string& error, const std::string& text) {
    error = text;
    return false;
}

}  // namespace

bool PublishFolder(const FolderRelease& r, const PublishTools& tools, std::string& report, std::string& error) {
    const std::string program = r.name + ".exe";
    if (!IsPlainWindowsName(program)) return Refuse(error, "NAME must be a plain file name: " + r.name);
    std::vector<FolderEntry> entries;
    if (!ListFolder(r.folder, entries, error)) return false;
    if (entries.size() > kMaxFolderFiles) return Refuse(error, r.folder + " holds more than 10000 files");
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.releasePath < b.releasePath; });

    // The names first: under Windows a device name opens the device, not a file.
    std::vector<FolderFile> files;
    for (const auto& e : entries) {
        if (e.size > kMaxReleaseFileSize) return Refuse(error, e.localPath + " is 4 GiB or larger");
        files.push_back({std::string(64, '0'), e.size, e.releasePath});
    }
    FolderManifest checked;
    std::string why;
    if (!ParseFolderManifest(FormatFolderManifest(r.stamp, files), program, checked, &why))
        return Refuse(error, r.folder + " cannot be a release of " + program + ": " + why);

    // Hash every file; one file in memory at a time.
    files.clear();
    std::string bytes;
    for (const auto& e : entries) {
        if (!tools.read(e.localPath, bytes)) return Refuse(error, "cannot read " + e.localPath);
        if (e.releasePath == program && !tools.isProgram(bytes))
            return Refuse(error, e.localPath + " is not a Windows executable (no MZ and PE header)");
        files.push_back({signing::Sha256Hex(bytes), bytes.size(), e.releasePath});
    }
    // The launcher's own reading decides what a release may hold.
    const std::string txt = FormatFolderManifest(r.stamp, files);
    if (!ParseFolderManifest(txt, program, checked, &why))
        return Refuse(error, r.folder + " cannot be a release of " + program + ": " + why);

    const std::string txtPath = Join(r.outdir, r.name + ".txt");
    std::string previous;
    if (tools.read(txtPath, previous)) {
        const std::string last = previous.substr(0, previous.find_first_of(std::string("\r\n\0", 3)));
        if (!(r.stamp > last))
            return Refuse(error, "the stamp " + r.stamp + " is not greater than " + last + " in " + txtPath +
                                     "; clients would not update");
    }
    std::string der;
    if (!r.keyPem.empty()) {
        std::string d, point, rs;
        if (!signing::P256PrivateKeyFromPem(r.keyPem, d, point))
            return Refuse(error, "the key is not an unencrypted ECDSA P-256 private key (PEM)");
        if (!Sign(r.keyPem, txt, der, error)) return false;
        if (!signing::P256SignatureFromDer(der, rs)) return Refuse(error, "the signature came out malformed");
    }

    const std::string objects = Join(r.outdir, r.name + ".files");
    if (!MakeFolder(objects, error)) return false;
    uint64_t newBytes = 0, allBytes = 0;
    size_t newFiles = 0;
    std::string newLines, existing;
    for (size_t i = 0; i < files.size(); ++i) {
        const FolderFile& f = files[i];
        allBytes += f.size;
        const std::string object = Join(objects, f.sha256);
        // An object is its hash: one already there with other bytes (a cut upload) is replaced.
        if (tools.read(object, existing) && signing::Sha256Hex(existing) == f.sha256) continue;
        if (!tools.read(entries[i].localPath, bytes) || signing::Sha256Hex(bytes) != f.sha256)
            return Refuse(error, entries[i].localPath + " changed while it was published; nothing announced");
        tools.put(object, bytes);
        ++newFiles;
        newBytes += f.size;
        // The local name, as this system's console shows it.
        newLines += "new " + entries[i].localPath.substr(r.folder.size() + 1) + " (" + std::to_string(f.size) + " bytes)\n";
    }
    if (!der.empty()) tools.put(Join(r.outdir, r.name + ".sig"), der);
    tools.put(txtPath, txt);
    report = newLines + "published " + r.folder + " as " + r.name + ".txt" + (der.empty() ? "" : " and " + r.name + ".sig") +
             " in " + r.outdir + ", stamp " + r.stamp + ": " + std::to_string(newFiles) + " of " +
             std::to_string(files.size()) + " files new, " + std::to_string(newBytes) + " of " +
             std::to_string(allBytes) + " bytes\n";
    return true;
}

}  // namespace publish
