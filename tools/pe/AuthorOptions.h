// The pack options that give a package the author's icon and version
// information: --icon FILE.ico and --version-info KEY=VALUE (repeatable).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/Cli.h"

namespace Selfex {

// True when args ask for any author resource.
bool HasAuthorOptions(const ParsedArgs &args);

// Rebuilds stub (read from stubPath) with the resources args ask for, and
// checks the result against the package layout; EXIT_OK when done (or
// nothing was asked), else the failure or usage error, already reported.
int ApplyAuthorOptions(const ParsedArgs &args, ToolContext &context, const std::string &stubPath,
                       std::vector<uint8_t> &stub);

} // namespace Selfex
