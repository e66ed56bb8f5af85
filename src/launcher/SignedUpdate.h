#pragma once
// The signature check of a downloaded program, in a build with the vendor's public key.
#include <functional>
#include <string>

#include "launcher/uStarter.h"

// The public key in the launcher's configuration block (SubjectPublicKeyInfo DER bytes);
// empty without one, "-" (accepts nothing) when the block is damaged.
std::string UpdatePublicKey();

// Decides whether the new program that arrived (N.txt and N.bin in the application folder)
// may be installed. Without a key: always. With one: N.sig is fetched with `fetch` (which
// downloads a URL into the application folder) and must be a valid signature over the bytes
// of N.txt followed by the bytes of N.bin. N.sig is removed in every case; when the answer
// is no, N.bin is removed too, as if it had never arrived. Never throws.
bool SignatureAccepted(const StarterNames& n, const std::string& publicKey,
                       const std::function<void(const std::string& url)>& fetch);
