#include "engine/fileutil.h"

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

#include "engine/format.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

std::int64_t FileLength(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

std::int64_t GetFileLength(std::FILE* stream)
{
    const std::int64_t length = StreamLength(stream);
    if (length < 0) {
        std::fputs("Unable to determine input file size.\n", stdout);
        return 0;
    }
    return length;
}

std::string FileNameOf(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    return parts.name + parts.ext;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string InputErrorText(int error)
{
    switch (error) {
    case ESPIPE: return LoadString(IDS_INPUT_IS_FIFO);
    case ENODEV: return LoadString(IDS_INPUT_IS_DEVICE);
    case EISDIR: return LoadString(IDS_INPUT_IS_FOLDER);
    default: return SystemErrorText(error);
    }
}

std::string NotRegularInputRefusal(const std::string& path)
{
    const int error = CheckRegularInput(path);
    if (error != ESPIPE && error != ENODEV && error != EISDIR)
        return {};
    return FormatText(LoadString(IDS_NOT_REGULAR_INPUT).c_str(), path.c_str(),
                      InputErrorText(error).c_str());
}

std::string CannotOpenInputText(const std::string& path, int error)
{
    if (error == ESPIPE || error == ENODEV || error == EISDIR)
        return FormatText(LoadString(IDS_NOT_REGULAR_INPUT).c_str(), path.c_str(),
                          InputErrorText(error).c_str());
    return FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), path.c_str()) + " (" +
           SystemErrorText(error) + ")";
}

std::vector<std::string> OtherCaseNamesOf(const std::string& path)
{
    const PathParts parts = SplitPath(path);
    const std::string folder = parts.drive + parts.dir;
    const std::string name = parts.name + parts.ext;
    std::vector<std::string> others;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return others;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name != name && EqualIgnoringCase(entry->d_name, name))
            others.push_back(MakePath("", folder, entry->d_name, ""));
    }
    closedir(dir);
    std::sort(others.begin(), others.end());
    return others;
}
