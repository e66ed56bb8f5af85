// Baseline for scripts/bench: a bare WinInet download loop with a given block size that
// writes what it reads to a file, as a downloader must. Prints "<seconds> <bytes>" for the
// time from opening the session to closing the file. An ftp://HOST:PORT/PATH URL is fetched
// anonymously in passive mode.
//   bench_wininet URL BLOCKSIZE OUTFILE
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_wininet URL BLOCKSIZE OUTFILE\n");
        return 2;
    }
    const DWORD block = static_cast<DWORD>(std::atoi(argv[2]));
    std::vector<char> buffer(block);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    unsigned port = 21;
    char host[256] = "", path[1024] = "";
    if (!session) {
    } else if (std::sscanf(argv[1], "ftp://%255[^:/]:%u/%1023s", host, &port, path) == 3) {
        // FTP, anonymous and passive, as a client behind a firewall works.
        connection = InternetConnectA(session, host, static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                      INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        request = connection ? FtpOpenFileA(connection, path, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0)
                             : nullptr;
    } else {
        request = InternetOpenUrlA(session, argv[1], nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    }
    HANDLE file = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!request || file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench_wininet: cannot open %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    unsigned long long total = 0;
    DWORD got = 0;
    while (InternetReadFile(request, buffer.data(), block, &got) && got > 0) {
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) return 1;
        total += got;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    if (connection) InternetCloseHandle(connection);
    InternetCloseHandle(session);
    QueryPerformanceCounter(&end);
    std::printf("%.6f %llu\n",
                static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart),
                total);
    return 0;
}
