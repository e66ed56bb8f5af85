#pragma once
// The checks of a signed release, in a build with the vendor's public key: N.sig over the
// manifest N.txt, and the downloaded program against the manifest's size and SHA-256.
#include <functional>
#include <string>

#include "launcher/Manifest.h"
#include "launcher/uStarter.h"
#include "platform/Platform.h"

// The public key built in (SubjectPublicKeyInfo DER bytes); empty in a build without one.
std::string UpdatePublicKey();

// Fetches N.sig with `fetch` (which downloads a URL into the application folder) and checks
// it over exactly `manifestBytes`; true with the parsed manifest in `out` when it is a valid
// signature of the key `publicKey` and the manifest is well-formed. A signature file left by
// an earlier run never counts; N.sig is removed in every case. Never throws.
bool VerifyManifest(const StarterNames& n, const std::string& publicKey,
                    const std::string& manifestBytes,
                    const std::function<void(const std::string& url)>& fetch, ReleaseManifest& out);

// True when `file`, read through from where it stands, holds exactly `m.size` bytes whose
// SHA-256 is `m.sha256`. Never reads more than one block past that size.
bool MatchesManifest(platform::File& file, const ReleaseManifest& m);
