#include "platform/paths.h"

PathParts SplitPath(const std::string& path)
{
    PathParts parts;
    const std::size_t slash = path.rfind('/');
    const std::size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    parts.dir = path.substr(0, fileStart);
    const std::string file = path.substr(fileStart);
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.ext = file.substr(dot);
    }
    return parts;
}

std::string MakePath(const std::string& drive, const std::string& dir, const std::string& name,
                     const std::string& ext)
{
    std::string path = drive + dir;
    if (!dir.empty() && dir.back() != '/')
        path += '/';
    path += name;
    if (!ext.empty() && ext.front() != '.')
        path += '.';
    path += ext;
    return path;
}

std::string MakePath(const PathParts& parts)
{
    return MakePath(parts.drive, parts.dir, parts.name, parts.ext);
}
