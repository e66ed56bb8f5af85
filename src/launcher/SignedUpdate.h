#pragma once
// The check of a signed release, in a build with the vendor's public key: N.sig over the
// manifest N.txt (the program is then checked against it as every release is: Release.h).
#include <functional>
#include <string>

#include "launcher/Manifest.h"
#include "launcher/uStarter.h"
#include "platform/Platform.h"

// The public key in the launcher's configuration block (SubjectPublicKeyInfo DER bytes);
// empty without one, "-" (accepts nothing) when the block is damaged.
std::string UpdatePublicKey();

// Fetches N.sig with `fetch` (which downloads a URL into the application folder) and checks
// it over exactly `manifestBytes`; true with the parsed manifest in `out` when it is a valid
// signature of the key `publicKey` and the manifest is well-formed. A signature file left by
// an earlier run never counts; N.sig is removed in every case. Never throws.
bool VerifyManifest(const StarterNames& n, const std::string& publicKey,
                    const std::string& manifestBytes,
                    const std::function<void(const std::string& url)>& fetch, ReleaseManifest& out);

// The same for a manifest of another form (a folder release's), which the caller parses
// only after this said yes.
bool VerifySignature(const StarterNames& n, const std::string& publicKey, const std::string& manifestBytes,
                     const std::function<void(const std::string& url)>& fetch);
