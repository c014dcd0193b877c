// The pack options for the author's icon and version information.
#include "tools/pe/AuthorOptions.h"

#include "tools/FileIo.h"
#include "tools/PackageLayout.h"
#include "tools/pe/StubResources.h"

namespace Selfex {

namespace {

const char COMMAND[] = "pack";
constexpr uint64_t MAX_ICON_READ = 1u << 20; // far more than any stub can carry; the layout limit says by how much

} // namespace

bool HasAuthorOptions(const ParsedArgs &args)
{
    return args.Has("icon") || args.Has("version-info");
}

int ApplyAuthorOptions(const ParsedArgs &args, ToolContext &context, const std::string &stubPath,
                       std::vector<uint8_t> &stub)
{
    if (!HasAuthorOptions(args)) {
        return EXIT_OK;
    }
    AuthorResources author;
    for (const std::string &assignment : args.GetAll("version-info")) {
        std::string problem = AddVersionString(assignment, author.Version);
        if (!problem.empty()) {
            return UsageError(context, COMMAND, "--version-info: " + problem);
        }
        author.HasVersion = true;
    }
    const std::string iconPath = args.Get("icon");
    size_t iconBytes = 0;
    if (args.Has("icon")) {
        std::vector<uint8_t> file;
        std::string error;
        if (!ReadSmallFile(iconPath, MAX_ICON_READ, file, error)) {
            return Fail(context, COMMAND, "cannot read the icon: " + error);
        }
        std::string problem = ReadIconFile(file.data(), file.size(), author.Icon);
        if (!problem.empty()) {
            return Fail(context, COMMAND, iconPath + ": " + problem);
        }
        for (const IconImage &image : author.Icon) {
            iconBytes += image.Data.size();
        }
    }

    std::string problem = RewriteStubResources(stub, author);
    if (!problem.empty()) {
        return Fail(context, COMMAND, stubPath + ": cannot take the icon or version information: " + problem);
    }
    const std::string what = args.Has("icon") ? "with the icon of " + iconPath : "with the version information";
    if (stub.size() > PACKAGE_LAST_HEADER) {
        const size_t excess = stub.size() - PACKAGE_LAST_HEADER;
        std::string message = stubPath + " " + what + " is " + std::to_string(stub.size()) + " bytes, " +
                              std::to_string(excess) + " more than the " + std::to_string(PACKAGE_LAST_HEADER) +
                              " bytes a package's stub may have";
        if (iconBytes > excess) {
            message += "; with this stub the icon's images may take at most " + std::to_string(iconBytes - excess) +
                       " bytes (they take " + std::to_string(iconBytes) + ")";
        }
        return Fail(context, COMMAND, message);
    }
    problem = StubProblem(stub.data(), stub.size());
    if (!problem.empty()) {
        return Fail(context, COMMAND, stubPath + " " + what + ": " + problem);
    }
    return EXIT_OK;
}

} // namespace Selfex
