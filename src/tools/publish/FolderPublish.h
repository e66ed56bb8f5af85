#pragma once
// publish NAME FOLDER OUTDIR: a program of many files as a folder release. Every file's bytes
// go to OUTDIR/NAME.files/<SHA-256> (only objects not there already), then NAME.sig (when
// signed) and last NAME.txt, the manifest, so a server copied at any moment never offers a
// manifest whose files are missing.
#include <functional>
#include <string>

namespace publish {

struct FolderRelease {
    std::string name;    // NAME: NAME.exe must be at the top of the folder
    std::string folder;  // the program's folder
    std::string outdir;  // the server's managedfiles folder
    std::string stamp;   // checked for its form already
    std::string keyPem;  // the private key's PEM; empty: no NAME.sig
};

// What the folder mode takes from the command: reading a file, the program check, and the
// exclusive synced write of a file under a temporary name (which throws on failure).
struct PublishTools {
    std::function<bool(const std::string& path, std::string& bytes)> read;
    std::function<bool(const std::string& bytes)> isProgram;
    std::function<void(const std::string& path, const std::string& bytes)> put;
};

// Checks the whole release before it writes anything; false with `error` when it is refused.
// `report` lists what is new in this release.
bool PublishFolder(const FolderRelease& release, const PublishTools& tools, std::string& report,
                   std::string& error);

}  // namespace publish
