// Test-only control of the process environment: Windows.
#include "tests/platform/HostControl.h"

#include <cstdlib>

#include "platform/Win32.h"

bool IsPosixLayer()
{
    return false;
}

bool SetEnvironment(const char *name, const char *value)
{
    return _putenv_s(name, value != nullptr ? value : "") == 0;
}

bool RunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
