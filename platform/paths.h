// Taking a path apart into drive, directory, base name and extension, and putting it together
// again. Paths are bytes in the file system's own encoding and are never re-encoded.
//
// There are no drives on Linux: the drive part is always empty, and kept only so that code
// that builds names from all four parts reads the same everywhere.
#pragma once

#include <string>

struct PathParts {
    std::string drive; // always empty
    std::string dir;   // everything up to and including the last '/', or empty
    std::string name;  // the file name without its extension
    std::string ext;   // from the last '.' of the file name on, dot included, or empty
};

// "/a/b/report.kmx" gives dir "/a/b/", name "report", ext ".kmx". "a.b/c" gives dir "a.b/",
// name "c", no extension: only the file name part is searched for the dot.
PathParts SplitPath(const std::string& path);

// drive + dir (a '/' added when dir does not end in one) + name + ext (a '.' added when ext
// does not begin with one).
std::string MakePath(const std::string& drive, const std::string& dir, const std::string& name,
                     const std::string& ext);
std::string MakePath(const PathParts& parts);
