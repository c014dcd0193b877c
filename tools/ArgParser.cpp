// Command-line options of the selfex commands.
#include "tools/ArgParser.h"

namespace Selfex {

std::string ParsedArgs::Get(std::string_view name, const std::string &fallback) const
{
    auto at = Options.find(name);
    return at == Options.end() ? fallback : at->second;
}

std::vector<std::string> ParsedArgs::GetAll(std::string_view name) const
{
    auto at = AllValues.find(name);
    return at == AllValues.end() ? std::vector<std::string>() : at->second;
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

        // Find the option, and any value attached to it.
        const OptionDef *option = nullptr;
        std::string attached;
        bool hasAttached = false;
        if (arg[1] == '-') {
            std::string_view body = std::string_view(arg).substr(2);
            size_t equals = body.find('=');
            std::string_view name = body.substr(0, equals);
            for (const OptionDef &candidate : options) {
                if (candidate.Name == name) {
                    option = &candidate;
                }
            }
            if (option && equals != std::string_view::npos) {
                attached = std::string(body.substr(equals + 1));
                hasAttached = true;
            }
        } else {
            for (const OptionDef &candidate : options) {
                if (candidate.Short == arg[1]) {
                    option = &candidate;
                }
            }
            if (option && arg.size() > 2) {
                attached = arg.substr(2);
                hasAttached = true;
            }
        }
        if (!option) {
            error = "unknown option " + arg;
            return false;
        }

        std::string key(option->Name);
        if (!option->TakesValue) {
            if (hasAttached) {
                error = "option --" + key + " takes no value";
                return false;
            }
            parsed.Options[key] = std::string();
        } else if (hasAttached) {
            parsed.Options[key] = attached;
        } else if (i + 1 < args.size()) {
            parsed.Options[key] = args[++i];
        } else {
            error = "option " + arg + " needs a value";
            return false;
        }
        if (option->TakesValue) {
            parsed.AllValues[key].push_back(parsed.Options[key]);
        }
    }
    return true;
}

} // namespace Selfex
