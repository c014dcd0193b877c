// selfex list: the stored files of a package or cabinet, read from its
// tables, so that names the extractor refuses can be seen too.
#include "tools/CabinetSet.h"
#include "tools/Cli.h"
#include "tools/ListFormat.h"
#include "tools/PackageReader.h"
#include "tools/pe/Signature.h"

namespace Selfex {

int RunList(const ParsedArgs &args, ToolContext &context)
{
    const char command[] = "list";
    const std::string &path = args.Operands[0];
    const bool json = args.Has("json");
    const Verbosity verbosity = VerbosityOf(args);

    // The extractor decides what is a package, as for test and extract.
    CPackageReader reader;
    std::string error;
    CCabinetSetListing listing;
    const bool opened = reader.Open(path, error);
    if (opened) {
        if (!listing.Read(path, true, error)) {
            error = path + ": " + error;
        }
    }
    // Whether the package is signed: present or absent, not verified; only
    // read from what the reader accepted (never a FIFO, say).
    const std::string signature = opened ? SignatureState(path) : std::string();
    if (json) {
        WriteListJson(context.Out, path, listing, error, signature);
    } else {
        if (verbosity == Verbosity::Verbose && !signature.empty()) {
            context.Out << "Authenticode signature: " << signature << "\n";
        }
        WriteListText(context.Out, listing, verbosity);
    }
    if (!listing.Start().Text.empty()) {
        Note(context, command, listing.Start().Text);
    }
    if (!error.empty()) {
        return Fail(context, command, error);
    }
    const size_t unsafe = listing.UnsafeCount();
    if (unsafe > 0) {
        return Fail(context, command,
                    path + ": " + std::to_string(unsafe) + " of " + std::to_string(listing.Files().size()) +
                        " stored names are unsafe (marked !); test and extract refuse them");
    }
    return EXIT_OK;
}

} // namespace Selfex
