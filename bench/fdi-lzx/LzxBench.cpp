// LZX throughput of our FDI: the files of a cabinet decoded through
// FDICopy into a sink that discards them.
//
//   fdi_lzx_bench CABINET [RUNS [NAME]]
//
// Decodes every file (or only the file named NAME; FDI then skips the other
// folders) RUNS times (default 3) and prints the best run:
//   <bytes> <wall seconds> <cpu seconds> <MB/s by wall>
// bytes being the decoded output, MB 10^6 bytes. CPU time (user + system of
// this process during the run) is printed too because the machines these
// run on are shared; the run script compares wall times of whole processes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "bench/common/DiscardingClient.h"

namespace {

using namespace BenchClient;

const char *g_Only; // the one file to decode, or NULL for all

FNFDINOTIFY(Notify)
{
    switch (fdint) {
    case fdintCOPY_FILE: return !g_Only || std::strcmp(pfdin->psz1, g_Only) == 0 ? SINK_HANDLE : 0;
    case fdintCLOSE_FILE_INFO: return 1;
    default: return 0;
    }
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Decodes the cabinet once; false on failure.
bool DecodeOnce(const std::string &directory, const std::string &name)
{
    ERF erf{};
    HFDI context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
    if (!context) {
        std::fprintf(stderr, "FDICreate failed: %d\n", erf.erfOper);
        return false;
    }
    g_Written = 0;
    std::string dir = directory, file = name;
    const bool ok = FDICopy(context, &file[0], &dir[0], 0, Notify, nullptr, nullptr) != 0;
    if (!ok) {
        std::fprintf(stderr, "FDICopy failed: erfOper %d\n", erf.erfOper);
    }
    FDIDestroy(context);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fdi_lzx_bench CABINET [RUNS [NAME]]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    g_Only = argc > 3 ? argv[3] : nullptr;
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    double bestWall = 0, bestCpu = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        if (!DecodeOnce(directory, name)) {
            return 1;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = CpuSeconds() - cpuStart;
        bestWall = run == 0 || wall < bestWall ? wall : bestWall;
        bestCpu = run == 0 || cpu < bestCpu ? cpu : bestCpu;
    }
    std::printf("%llu %.4f %.4f %.1f\n", static_cast<unsigned long long>(g_Written), bestWall, bestCpu,
                static_cast<double>(g_Written) / bestWall / 1e6);
    return 0;
}
