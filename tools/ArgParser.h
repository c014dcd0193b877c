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
    std::map<std::string, std::string, std::less<>> Options; // long name -> value ("" for a flag); the last use wins
    std::vector<std::string> Operands;                       // everything else, in order; "--" ends the options
    std::map<std::string, std::vector<std::string>, std::less<>> AllValues; // every value of each option, in order

    bool Has(std::string_view name) const { return Options.find(name) != Options.end(); }
    std::string Get(std::string_view name, const std::string &fallback = std::string()) const;
    // Every value given to a repeatable option, in order.
    std::vector<std::string> GetAll(std::string_view name) const;
};

// Splits args (the command's arguments, without the program and command
// names) by options. False with a message for an unknown option, a missing
// value, or a value given to a flag.
bool ParseArgs(const std::vector<std::string> &args, const std::vector<OptionDef> &options, ParsedArgs &parsed,
               std::string &error);

} // namespace Selfex
