/* A tiny shared library for the LoadLibraryW tests: PlatformProbe.dll on
   Windows, libplatformprobe.so on POSIX. Plain C, so it needs no C++
   runtime beside it. */
#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

PROBE_EXPORT int ProbeAnswer(void);

int ProbeAnswer(void)
{
    return 42;
}
