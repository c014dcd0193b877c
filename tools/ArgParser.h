// Command-line options of the selfex commands.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace Selfex {

struct OptionDef {
    std::string_view Name; // long form without dashes: "output"
    char Short;            // short form ('o'), or 0 for none
    bool TakesValue;       // "--output FILE", "--output=FILE", "-o FILE", "-oFILE"
};

struct ParsedArgs {
    // long name -> every value given, in order ("" for each use of a flag)
    std::map<std::string, std::vector<std::string>, std::less<>> Options;
    std::vector<std::string> Operands; // everything else, in order; "--" ends the options

    bool Has(std::string_view name) const { return Options.find(name) != Options.end(); }
    // The last value given (the last use wins), or fallback.
    std::string Get(std::string_view name, const std::string &fallback = std::string()) const;
    // Every value given, for options that may repeat ("--exclude A --exclude B").
    std::vector<std::string> GetAll(std::string_view name) const;
};

// Splits args (the command's arguments, without the program and command
// names) by options. Short flags may be bundled ("-qf"); in a bundle, an
// option that takes a value takes the rest of the argument, or the next
// argument ("-vd out"). False with a message for an unknown option, a
// missing value, or a value given to a flag.
bool ParseArgs(const std::vector<std::string> &args, const std::vector<OptionDef> &options, ParsedArgs &parsed,
               std::string &error);

} // namespace Selfex
