// Prints what Windows reads from a file's version resource, one line each:
// "Fixed a.b.c.d e.f.g.h" (file, then product version), "Translation
// LLLL CCCC", then "Key=Value" for every key it is asked for (UTF-8).
// usage: version-probe FILE KEY...
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void PrintUtf8(const std::wstring &text)
{
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        std::fputs("usage: version-probe FILE KEY...\n", stderr);
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, data.data())) {
        std::fprintf(stderr, "no version information (error %lu)\n", GetLastError());
        return 1;
    }
    void *value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
        std::printf("Fixed %lu.%lu.%lu.%lu %lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
                    fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF,
                    fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                    fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    }
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        const auto *pair = static_cast<const WORD *>(value);
        std::printf("Translation %04X %04X\n", pair[0], pair[1]);
    }
    for (int i = 2; i < argc; ++i) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + argv[i];
        if (VerQueryValueW(data.data(), query.c_str(), &value, &length)) {
            PrintUtf8(std::wstring(argv[i]) + L"=" + static_cast<const wchar_t *>(value));
        } else {
            PrintUtf8(std::wstring(argv[i]) + L" missing");
        }
    }
    return 0;
}
