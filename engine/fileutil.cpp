#include "engine/fileutil.h"

#include <cctype>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/paths.h"

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
