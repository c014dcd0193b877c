// A unique temporary folder for one test, and a fixture that owns one.
//
// Everything goes through the Win32 subset (the real API on Windows, the
// platform layer on POSIX), so tests reach the same files as the code under
// test on both systems.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/Win32.h"

using WString = std::basic_string<WCHAR>;

class CTempDir {
public:
    // Creates a new, empty folder below GetTempPathW's folder. Path() is
    // empty when that failed (the fixture then fails the test).
    CTempDir();
    // Removes the folder and everything in it, read-only files included.
    ~CTempDir();
    CTempDir(const CTempDir &) = delete;
    CTempDir &operator=(const CTempDir &) = delete;

    // The folder, without a trailing backslash.
    const WString &Path() const { return m_Path; }
    // Path() + "\" + relative.
    WString operator/(const WString &relative) const { return m_Path + WIDE("\\") + relative; }

private:
    WString m_Path;
};

// Removes folder and everything below it; clears read-only bits first.
void RemoveTree(const WString &folder);

// Fixture: a fresh CTempDir per test, made in SetUp, removed in TearDown.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Path() / relative of the current test's folder.
    WString In(const WString &relative) const { return *m_Dir / relative; }
    const WString &Dir() const { return m_Dir->Path(); }

private:
    CTempDir *m_Dir = nullptr;
};

// Creates (or replaces) a file holding text; false on any failure.
bool WriteTextFile(const WString &path, const std::string &text);
