// Where the selfex tool finds what ships with it, relative to its own
// folder, so that the staged build (dist/) and an installed tool both work:
//
//   installed: PREFIX/bin/selfex   staged: dist/bin/selfex
//              PREFIX/share/selfex/        dist/stub/         the stubs
//              PREFIX/lib/selfex/          dist/lib/          libcabinet.so
//
// The decoder library is loaded by the platform layer (POSIX: its
// LoadLibrary search, which includes these folders; Windows: Cabinet.dll
// from the system folder); this file only names the places for messages.
#pragma once

#include <string>
#include <vector>

namespace Selfex {

// The stub that `pack` puts in front of the cabinet unless --stub names one:
// "selfex-stub-x86.exe" for arch "x86" (the default), likewise for "x64".
std::string ShippedStubName(const std::string &arch);

// The paths at which the shipped stub for arch may lie, in the order they
// are tried. Empty when the executable's path is unknown.
std::vector<std::string> ShippedStubCandidates(const std::string &executablePath, const std::string &arch);

// The first of ShippedStubCandidates that exists. False when none does,
// with an error that names every path tried.
bool FindShippedStub(const std::string &executablePath, const std::string &arch, std::string &path, std::string &error);

// "looked for libcabinet.so in A, B and C" (on Windows: Cabinet.dll in the
// system folder), for messages about a decoder library that did not load.
std::string DecoderLibrarySearchText();

} // namespace Selfex
