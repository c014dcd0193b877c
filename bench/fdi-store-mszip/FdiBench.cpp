// Throughput of our FDI: every file of a cabinet decoded through FDICopy
// into a sink that discards it, and/or a plain read of the cabinet file in
// 32 KiB pieces for comparison. Prints the best of several runs, one line
// each:
//   fdicopy|read <bytes> <seconds> <MB/s>
// where bytes are the decoded output (or the file's bytes) and MB/s is
// 10^6 bytes per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "bench/common/DiscardingClient.h"

namespace {

using namespace BenchClient;

FNFDINOTIFY(Notify)
{
    switch (fdint) {
    case fdintCOPY_FILE: return SINK_HANDLE;
    case fdintCLOSE_FILE_INFO: return 1;
    default: return 0;
    }
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Decodes the whole cabinet once; false on failure.
bool DecodeOnce(const std::string &directory, const std::string &name, uint64_t *bytes)
{
    ERF erf{};
    HFDI context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
    if (context == nullptr) {
        return false;
    }
    g_Written = 0;
    std::string dir = directory, file = name;
    bool ok = FDICopy(context, &file[0], &dir[0], 0, Notify, nullptr, nullptr) != 0;
    if (!ok) {
        std::fprintf(stderr, "FDICopy failed: erfOper %d\n", erf.erfOper);
    }
    FDIDestroy(context);
    *bytes = g_Written;
    return ok;
}

bool ReadOnce(const std::string &path, uint64_t *bytes)
{
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    static char buffer[32768];
    *bytes = 0;
    for (ssize_t got; (got = read(fd, buffer, sizeof(buffer))) > 0;) {
        *bytes += uint64_t(got);
    }
    close(fd);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // --read: only the plain read; --both: decoding and plain reads taking
    // turns, so that both meet the same machine load.
    std::string mode = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
    int first = mode.empty() ? 1 : 2;
    if (argc <= first || (mode != "" && mode != "--read" && mode != "--both")) {
        std::fprintf(stderr, "usage: fdi_bench [--read|--both] CABINET [RUNS]\n");
        return 2;
    }
    std::string path = argv[first];
    int runs = argc > first + 1 ? std::atoi(argv[first + 1]) : 3;
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    bool decode = mode != "--read", plainRead = mode != "";
    double bestDecode = 0, bestRead = 0;
    uint64_t decoded = 0, read = 0;
    for (int run = 0; run < runs; ++run) {
        if (decode) {
            auto start = std::chrono::steady_clock::now();
            if (!DecodeOnce(directory, name, &decoded)) {
                return 1;
            }
            double seconds = Seconds(start);
            bestDecode = run == 0 || seconds < bestDecode ? seconds : bestDecode;
        }
        if (plainRead) {
            auto start = std::chrono::steady_clock::now();
            if (!ReadOnce(path, &read)) {
                return 1;
            }
            double seconds = Seconds(start);
            bestRead = run == 0 || seconds < bestRead ? seconds : bestRead;
        }
    }
    if (decode) {
        std::printf("fdicopy %llu %.4f %.1f\n", static_cast<unsigned long long>(decoded), bestDecode,
                    double(decoded) / bestDecode / 1e6);
    }
    if (plainRead) {
        std::printf("read %llu %.4f %.1f\n", static_cast<unsigned long long>(read), bestRead,
                    double(read) / bestRead / 1e6);
    }
    return 0;
}
