// Harness check program: shows one message box and exits with a chosen code.
//   msgbox.exe <caption-hex> <text-hex> <exit-code> [MessageBox type, decimal]
// Texts come hex-encoded so that any Windows-1252 byte reaches MessageBoxA unchanged.
#include <windows.h>

#include <cstdlib>
#include <string>

static std::string Unhex(const char* s)
{
    std::string out;
    for (; s[0] && s[1]; s += 2) out += static_cast<char>(std::strtoul(std::string(s, 2).c_str(), nullptr, 16));
    return out;
}

int main(int argc, char** argv)
{
    if (argc < 4) return 2;
    UINT type = argc > 4 ? static_cast<UINT>(std::strtoul(argv[4], nullptr, 10)) : MB_OK;
    MessageBoxA(nullptr, Unhex(argv[2]).c_str(), Unhex(argv[1]).c_str(), type);
    return std::atoi(argv[3]);
}
