// Joining the volumes of a split set back into one implode stream, on the unpack worker.
//
// A packed file that begins with the PackedFileHeader is volume 0 of a set: every volume is
// found beside it (or asked for), and their data is copied, in order, into one temporary file
// that holds the bare stream. A packed file without the header is the stream itself and is
// not copied at all.
//
// Volumes are looked for by name: the base name of the packed file with the extension made
// from "0KX" and the volume's number (0KX, 1KX ... 9KX, 10X ... 99X, 100 ...). Sets arrive from
// systems whose file names ignore letter case, so a volume whose name differs only in case
// counts as found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the first 16 bytes of the file into header and tests them: true when the whole 16
// bytes were read and they begin with the signature and its zero byte (the count in bytes 14
// and 15 is not tested). False for a file that cannot be opened, is shorter, or differs.
bool CheckPackedHeader(const std::string& path, unsigned char header[16]);

// Fills volumes with one path per volume, in order: volume 0 is the packed file itself, every
// other one is looked for beside it, then in g_volumeSearchDirs, and otherwise the user is
// asked (message 1231, then WM_FINDFILE). Returns false, after logging 1228 and 1229, when a
// volume stays missing; g_lastJoin then names it. A count of 0 or less gives an empty list.
bool BuildVolumeList(const std::string& packedPath, int count, std::vector<std::string>& volumes);

// Joins the set that packedPath begins. Returns true with tempName empty when the file has no
// header (it is the stream itself), or true with tempName naming a complete joined file in the
// packed file's folder, which the caller removes when done. Returns false after reporting the
// failure; nothing it created is left. A header whose count is 0 or negative is damaged.
bool JoinVolumes(const std::string& packedPath, std::string& tempName);

// The volume's extension without its dot: 0KX for volume 0, 10X for 10, 100 for 100.
std::string JoinedVolumeExtension(int index);

// The path of an existing file named name in dir, matched exactly or else ignoring the case
// of ASCII letters; empty when there is none. dir empty means the current directory.
std::string FindFileIgnoringCase(const std::string& dir, const std::string& name);

// Folders where a missing volume is looked for before the user is asked (the console's
// --volume-dir). Written on the main thread before a job starts; empty in the desktop program.
extern std::vector<std::string> g_volumeSearchDirs;

// What the last call of BuildVolumeList found out about the set, for the front ends' reports.
struct JoinInfo {
    int nVolumes = 0;                  // the header's count
    int nMissingVolume = -1;           // index of the volume nobody found, or -1
    std::string strMissingName;        // the name it was looked for under
    std::vector<std::string> volumes;  // every volume's path, when all were found
};
extern JoinInfo g_lastJoin;

// The sizes of a set's volumes against the sizes splitting gives them: volumes 1 to N-2 all of
// one size V, volume 0 V + 16 bytes (its header), the last at most V. A set that differs has
// lost or gained data inside its stream, which its decoder cannot always notice.
struct SetShape {
    std::vector<std::int64_t> sizes;   // of each volume, -1 when unknown
    std::int64_t nVolumeSize = 0;      // V: volume 1's size, or volume 0's less 16 for two volumes
    std::vector<int> oddVolumes;       // volumes 1 to N-2 whose size is not V
    bool bFirstWrong = false;          // volume 0 is not V + 16 bytes
    bool bLastTooLong = false;         // the last volume is longer than V
    bool Sound() const { return oddVolumes.empty() && !bFirstWrong && !bLastTooLong; }
};
SetShape MeasureSet(const std::vector<std::string>& volumes);
