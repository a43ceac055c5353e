// The names a job gives the files it writes: the packed file of a project file, and the
// project file of a packed file. Every job and front end names them through these functions.
#pragma once

#include <string>
#include <vector>

// The packed file of a project file: its folder and base name with the extension ".0KX".
std::string PackedNameFor(const std::string& projectPath);

// The project file's extension for a packed file: ".RVN" for a packed file named ".0RV" (in
// any letter case), ".KMX" for every other one.
std::string ProjectExtensionFor(const std::string& packedPath);

// The project file a packed file restores: its base name with ProjectExtensionFor, in the
// packed file's folder, or in intoFolder when that is not empty.
std::string ProjectNameFor(const std::string& packedPath, const std::string& intoFolder = {});

// True when the path's extension is ".0KX" in any letter case: a packed file a split takes.
bool HasPackedExtension(const std::string& path);

// For each file of a batch, given the path each one's job writes (empty when it writes
// nothing): the index of an earlier file whose job writes the same file, by whatever path
// (through a linked folder too), or -1. A
// batch leaves such a file undone rather than overwrite what it wrote itself (x.kmx and
// x.KMX pack into one x.0KX; two sets restore into one project file with --into).
std::vector<int> EarlierFileWritingTheSame(const std::vector<std::string>& outputs);

// The names the window's commands propose from the file named in its form. Pack: that file
// with the project extension ".kmx". Unpack and Test: that file, a project file's name given
// its packed extension (.kmx: .0KX, .rvn: .0RV, in any letter case).
std::string ProjectProposalFor(const std::string& path);
std::string PackedProposalFor(const std::string& path);
