// The volumes of a split set: finding them, checking a volume the user chooses, and measuring
// their sizes against the sizes a split gives them.
//
// Volumes are looked for by name: the base name of the packed file with the extension made
// from "0KX" and the volume's number (0KX, 1KX ... 9KX, 10X ... 99X, 100 ...), beside volume 0
// first, then in the search folders a front end names. Sets arrive from systems whose file
// names ignore letter case, so a volume whose name differs only in case counts as found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/packedformat.h"

// Reads the first PACKED_HEADER_SIZE bytes of the file into header and tests them
// (ReadPackedHeaderOf): true when the whole header was read and they begin with the signature and its zero byte (the count in bytes 14
// and 15 is not tested). False for a file that cannot be opened, is shorter, or differs.
bool CheckPackedHeader(const std::string& path, unsigned char header[PACKED_HEADER_SIZE]);

// What BuildVolumeList found out about a set, for the jobs and the front ends' reports.
struct JoinInfo {
    int volumeCount = 0;              // the header's count
    int missingVolume = -1;           // index of the volume nobody found, or -1
    std::string missingName;          // the name it was looked for under
    int badVolume = -1;               // index of a volume that is no regular file, or -1
    std::string badPath;              // its path
    int badError = 0;                 // what it is instead (ESPIPE, ENODEV, EISDIR)
    std::vector<std::string> volumes; // every volume's path found, volume 0 first
};

// Fills found.volumes with one path per volume, in order: volume 0 is the packed file itself,
// every other one is looked for beside it, then in the folders searchDirs, and otherwise the
// user is asked (message 1231, then FindVolumeThroughMain). Returns false, after logging 1228
// and 1229, when a volume stays missing; found then names it. A FIFO, a device or a folder
// under a volume's name is refused with its reason (found.badVolume), never opened for
// reading. A count of 0 or less gives an empty list.
bool BuildVolumeList(const std::string& packedPath, int count,
                     const std::vector<std::string>& searchDirs, JoinInfo& found);

// Whether the file the user chose for a missing volume can be volume index of a set of count
// volumes, of which volumesSoFar (volume 0 first) have been found: empty when it can, else why
// not, in the current language. It cannot when it is already a file of the set (the same path,
// or the same file through a link: one of volumesSoFar, or a later volume beside volume 0 or
// in the folders searchDirs), when it is no readable regular file, or when its size cannot be that
// volume's: volume 0 is V + 16 bytes, so every middle volume is V and the last at most V.
// BuildVolumeList asks again after showing the reason; the desktop program's chooser may call
// it before it answers.
std::string CheckChosenVolume(const std::vector<std::string>& volumesSoFar, int index, int count,
                              const std::string& chosen,
                              const std::vector<std::string>& searchDirs = {});

// The volume's extension without its dot: 0KX for volume 0, 10X for 10, 100 for 100.
std::string JoinedVolumeExtension(int index);

// The path of an existing file named name in dir, matched exactly or else ignoring the case
// of ASCII letters; empty when there is none. dir empty means the current directory.
std::string FindFileIgnoringCase(const std::string& dir, const std::string& name);

// The sizes of a set's volumes against the sizes splitting gives them: volumes 1 to N-2 all of
// one size V, volume 0 V + 16 bytes (its header), the last at most V. A set that differs has
// lost or gained data inside its stream, which its decoder cannot always notice.
struct SetShape {
    std::vector<std::int64_t> sizes; // of each volume, -1 when unknown
    std::int64_t volumeSize = 0;     // V: volume 1's size, or volume 0's less 16 for two volumes
    std::vector<int> oddVolumes;     // volumes 1 to N-2 whose size is not V
    bool firstWrong = false;         // volume 0 is not V + 16 bytes
    bool lastTooLong = false;        // the last volume is longer than V
    bool Sound() const { return oddVolumes.empty() && !firstWrong && !lastTooLong; }
};
// V is the size that most of volume 0 (less its header) and the middle volumes agree on, so
// that a single volume cut short or grown is the one found odd.
SetShape MeasureSet(const std::vector<std::string>& volumes);
// One line for each volume whose size is wrong, naming it: what `test` warns and what a join
// logs before it copies the volumes.
std::vector<std::string> DescribeSetShape(const SetShape& shape,
                                          const std::vector<std::string>& volumes);

// The folders where the volumes of the set that packedPath begins are looked for, in order:
// volume 0's own folder, then searchDirs.
std::vector<std::string> VolumeFolders(const std::string& packedPath,
                                       const std::vector<std::string>& searchDirs);
// The file name of volume index of that set: volume 0's base name with the volume's extension.
std::string VolumeFileName(const std::string& packedPath, int index);
// The path of volume index of that set in the first of its folders that holds it (its name in
// any letter case), or empty.
std::string FindVolumeFile(const std::string& packedPath, int index,
                           const std::vector<std::string>& searchDirs);
