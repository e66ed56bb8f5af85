// verinfo FILE OUT: writes the version resource's strings of FILE, as Windows reads them
// (GetFileVersionInfoA, VerQueryValueA in the Swedish / Windows-1252 table), one "Name=Value"
// line each, and "CheckSum=<in the header> <computed>" (MapFileAndCheckSumA), to OUT.
// Exit code 1 when FILE has no version resource.
#include <windows.h>
#include <imagehlp.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &handle);
    if (size == 0) return 1;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) return 1;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 2;
    for (const char* name : {"CompanyName", "ProductName", "FileDescription", "FileVersion",
                             "ProductVersion", "OriginalFilename"}) {
        const std::string path = std::string("\\StringFileInfo\\041D04E4\\") + name;
        char* value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::fprintf(out, "%s=%s\n", name, value);
    }
    DWORD header = 0, computed = 0;
    if (MapFileAndCheckSumA(argv[1], &header, &computed) == CHECKSUM_SUCCESS)
        std::fprintf(out, "CheckSum=%08lx %08lx\n", header, computed);
    std::fclose(out);
    return 0;
}
