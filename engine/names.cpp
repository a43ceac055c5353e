#include "engine/names.h"

#include <map>

#include "engine/fileutil.h"
#include "platform/filelock.h"
#include "platform/paths.h"

std::string PackedNameFor(const std::string& projectPath)
{
    const PathParts parts = SplitPath(projectPath);
    return MakePath(parts.drive, parts.dir, parts.name, ".0KX");
}

std::string ProjectExtensionFor(const std::string& packedPath)
{
    return EqualIgnoringCase(SplitPath(packedPath).ext, ".0RV") ? ".RVN" : ".KMX";
}

std::string ProjectNameFor(const std::string& packedPath, const std::string& intoFolder)
{
    const PathParts parts = SplitPath(packedPath);
    const std::string ext = ProjectExtensionFor(packedPath);
    if (!intoFolder.empty())
        return MakePath("", intoFolder, parts.name, ext);
    return parts.drive + parts.dir + parts.name + ext;
}

bool HasPackedExtension(const std::string& path)
{
    return EqualIgnoringCase(SplitPath(path).ext, ".0KX");
}

std::string ProjectProposalFor(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return MakePath(parts.drive, parts.dir, parts.name, ".kmx");
}

std::string PackedProposalFor(const std::string& path)
{
    PathParts parts = SplitPath(path);
    if (EqualIgnoringCase(parts.ext, ".kmx"))
        parts.ext = ".0KX";
    else if (EqualIgnoringCase(parts.ext, ".rvn"))
        parts.ext = ".0RV";
    return MakePath(parts);
}

std::vector<int> EarlierFileWritingTheSame(const std::vector<std::string>& outputs)
{
    std::vector<int> earlier(outputs.size(), -1);
    std::map<std::string, int> first;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].empty())
            continue;
        // Two ways of writing one name (a linked folder, a link to the file) meet in the
        // name's lock, as two jobs on that name would.
        const auto found = first.emplace(NameLock::LockFileFor(outputs[i]), static_cast<int>(i));
        if (!found.second)
            earlier[i] = found.first->second;
    }
    return earlier;
}
