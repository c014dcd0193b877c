// Command-line options of the selfex commands.
#include "tools/ArgParser.h"

namespace Selfex {

namespace {

const OptionDef *FindLong(const std::vector<OptionDef> &options, std::string_view name)
{
    for (const OptionDef &candidate : options) {
        if (candidate.Name == name) {
            return &candidate;
        }
    }
    return nullptr;
}

const OptionDef *FindShort(const std::vector<OptionDef> &options, char letter)
{
    for (const OptionDef &candidate : options) {
        if (candidate.Short != 0 && candidate.Short == letter) {
            return &candidate;
        }
    }
    return nullptr;
}

} // namespace

std::string ParsedArgs::Get(std::string_view name, const std::string &fallback) const
{
    auto at = Options.find(name);
    return at == Options.end() ? fallback : at->second.back();
}

std::vector<std::string> ParsedArgs::GetAll(std::string_view name) const
{
    auto at = Options.find(name);
    return at == Options.end() ? std::vector<std::string>() : at->second;
}

bool ParseArgs(const std::vector<std::string> &args, const std::vector<OptionDef> &options, ParsedArgs &parsed,
               std::string &error)
{
    parsed = ParsedArgs();
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.Operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        if (arg[1] == '-') {
            std::string_view body = std::string_view(arg).substr(2);
            size_t equals = body.find('=');
            const OptionDef *option = FindLong(options, body.substr(0, equals));
            if (!option) {
                error =
                    "unknown option " + std::string(arg, 0, equals == std::string_view::npos ? arg.size() : equals + 2);
                return false;
            }
            std::string key(option->Name);
            if (!option->TakesValue && equals != std::string_view::npos) {
                error = "option --" + key + " takes no value";
                return false;
            }
            if (!option->TakesValue) {
                parsed.Options[key].emplace_back();
            } else if (equals != std::string_view::npos) {
                parsed.Options[key].emplace_back(body.substr(equals + 1));
            } else if (i + 1 < args.size()) {
                parsed.Options[key].push_back(args[++i]);
            } else {
                error = "option " + arg + " needs a value";
                return false;
            }
            continue;
        }

        // Short options, possibly bundled: flags until one takes a value.
        for (size_t at = 1; at < arg.size(); ++at) {
            const OptionDef *option = FindShort(options, arg[at]);
            if (!option) {
                error = std::string("unknown option -") + arg[at];
                return false;
            }
            std::string key(option->Name);
            if (!option->TakesValue) {
                parsed.Options[key].emplace_back();
                continue;
            }
            if (at + 1 < arg.size()) {
                parsed.Options[key].push_back(arg.substr(at + 1));
            } else if (i + 1 < args.size()) {
                parsed.Options[key].push_back(args[++i]);
            } else {
                error = std::string("option -") + arg[at] + " needs a value";
                return false;
            }
            break;
        }
    }
    return true;
}

} // namespace Selfex
