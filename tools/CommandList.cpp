// selfex list: the stored files of a package or cabinet.
#include "tools/Cli.h"
#include "tools/ListFormat.h"
#include "tools/PackageReader.h"
#include "tools/pe/Signature.h"

namespace Selfex {

int RunList(const ParsedArgs &args, ToolContext &context)
{
    const char command[] = "list";
    const std::string &path = args.Operands[0];
    CPackageReader reader;
    std::vector<StoredFile> files;
    std::string error;
    if (!reader.Open(path, error)) {
        return Fail(context, command, error);
    }
    if (!reader.List(files, error)) {
        // What was listed before the failure is still worth seeing.
        WriteListText(context.Out, files);
        return Fail(context, command, path + ": " + error);
    }
    const std::string signature = SignatureState(path);
    if (args.Has("json")) {
        WriteListJson(context.Out, path, reader.CabinetOffset(), files, signature);
    } else {
        if (args.Has("verbose")) {
            context.Out << "Authenticode signature: " << signature << "\n";
        }
        WriteListText(context.Out, files);
    }
    return EXIT_OK;
}

} // namespace Selfex
