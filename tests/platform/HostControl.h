// Test-only control of the process environment, one implementation per OS.
#pragma once

// True where the POSIX platform layer runs, false on Windows (real or Wine).
bool IsPosixLayer();

// Sets an environment variable for this process (value null: removes it).
bool SetEnvironment(const char *name, const char *value);

// True when the program runs under Wine rather than on Windows or POSIX:
// Wine's ntdll exports wine_get_version. Some rows of the conformance
// tables note where Wine departs from Windows and skip there.
bool RunningUnderWine();
