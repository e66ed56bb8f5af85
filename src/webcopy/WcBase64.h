#pragma once
// Base64 of RFC 4648: standard alphabet, "=" padding, no line breaks.
#include <string>

std::string EncodeBase64(const std::string& bytes);
