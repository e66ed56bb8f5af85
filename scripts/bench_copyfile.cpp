// Baseline for scripts/bench: the system's own file copy (CopyFileA) of one local file.
// Prints "<seconds> <bytes>" for the copy alone.
//   bench_copyfile SOURCE TARGET
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_copyfile SOURCE TARGET\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CopyFileA(argv[1], argv[2], FALSE)) {
        std::fprintf(stderr, "bench_copyfile: cannot copy %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    QueryPerformanceCounter(&end);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(argv[2], GetFileExInfoStandard, &data)) return 1;
    std::printf("%.6f %llu\n",
                static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart),
                (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return 0;
}
