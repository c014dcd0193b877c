// Test-only control of the process environment: POSIX.
#include "tests/platform/HostControl.h"

#include <cstdlib>

bool IsPosixLayer()
{
    return true;
}

bool SetEnvironment(const char *name, const char *value)
{
    return value != nullptr ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

bool RunningUnderWine()
{
    return false;
}
