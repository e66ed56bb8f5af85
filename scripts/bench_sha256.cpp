// For scripts/bench: the launcher's SHA-256 over one file, read in 64 KiB blocks as it checks
// a release's files, with the processor's SHA instructions and with the portable code.
// Prints "<cpu seconds or -> <portable seconds> <bytes> <hex digest>".
//   bench_sha256 FILE
#include <windows.h>

#include <cstdio>
#include <string>

#include "signing/Sha256.h"

namespace {

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Hash(const char* path, double& seconds, unsigned long long& bytes, std::string& hex) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    static char buf[64 * 1024];
    signing::Sha256 hash;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    DWORD got = 0;
    bytes = 0;
    while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) {
        hash.Update(buf, got);
        bytes += got;
    }
    hex = signing::ToHex(hash.Finish());
    QueryPerformanceCounter(&end);
    CloseHandle(file);
    seconds = Seconds(start, end);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_sha256 FILE\n");
        return 2;
    }
    double cpu = -1, portable = 0;
    unsigned long long bytes = 0;
    std::string hex, again;
    if (signing::UseCpuSha256(true) && !Hash(argv[1], cpu, bytes, hex)) return 1;
    signing::UseCpuSha256(false);
    if (!Hash(argv[1], portable, bytes, again) || (!hex.empty() && hex != again)) return 1;
    if (cpu < 0) std::printf("- ");
    else std::printf("%.6f ", cpu);
    std::printf("%.6f %llu %s\n", portable, bytes, again.c_str());
    return 0;
}
