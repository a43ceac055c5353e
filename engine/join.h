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

#include "engine/packedformat.h"

// Reads the first PACKED_HEADER_SIZE bytes of the file into header and tests them
// (ReadPackedHeaderOf): true when the whole header was read and they begin with the signature and its zero byte (the count in bytes 14
// and 15 is not tested). False for a file that cannot be opened, is shorter, or differs.
bool CheckPackedHeader(const std::string& path, unsigned char header[PACKED_HEADER_SIZE]);

// What BuildVolumeList found out about a set, for the jobs and the front ends' reports.
struct JoinInfo {
    int volumeCount = 0;                  // the header's count
    int missingVolume = -1;           // index of the volume nobody found, or -1
    std::string missingName;        // the name it was looked for under
    int badVolume = -1;               // index of a volume that is no regular file, or -1
    std::string badPath;            // its path
    int badError = 0;                 // what it is instead (ESPIPE, ENODEV, EISDIR)
    std::vector<std::string> volumes;  // every volume's path found, volume 0 first
};

// Fills found.volumes with one path per volume, in order: volume 0 is the packed file itself,
// every other one is looked for beside it, then in the folders searchDirs, and otherwise the
// user is asked (message 1231, then FindVolumeThroughMain). Returns false, after logging 1228
// and 1229, when a volume stays missing; found then names it. A FIFO, a device or a folder
// under a volume's name is refused with its reason (found.badVolume), never opened for
// reading. A count of 0 or less gives an empty list.
bool BuildVolumeList(const std::string& packedPath, int count, const std::vector<std::string>& searchDirs,
                     JoinInfo& found);

// Joins the set that packedPath begins, its volumes found as BuildVolumeList finds them (found
// tells what it found). Returns true with tempName empty when the file has no header (it is
// the stream itself), or true with tempName naming a complete joined file in folder (the
// packed file's own folder when empty), which the caller removes when done. Returns false
// after reporting the failure; nothing it created is left. A header whose count is 0 or
// negative is damaged. Progress moves by the bytes copied.
bool JoinVolumes(const std::string& packedPath, const std::string& folder,
                 const std::vector<std::string>& searchDirs, std::string& tempName, JoinInfo& found);

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

// A join of a set into one packed file of its own (the console's join command), as a job.
struct JoinRequest {
    std::string packedPath; // volume 0 of the set, absolute
    std::string outPath;    // the single packed file to write, absolute
    std::vector<std::string> volumeSearchDirs; // where missing volumes are looked for, absolute
};
struct JoinOutcome {
    bool started = false;      // the worker ran
    bool joined = false;       // the output holds the joined stream
    bool intoSet = false;      // the output is one of the set's volumes: refused, nothing written
    std::string manifestPath; // the output's manifest, when one was written
    bool manifestFailed = false; // the set had a manifest of ours, the output's could not be written
    JoinInfo join;           // the volumes found, or the one missing
};

// Main thread. Asks before an existing output is replaced, then starts the worker: it joins
// the set (volumes found as the unpack job finds them), refuses an output that is one of the
// volumes actually joined, checks a manifest of ours beside the set against those volumes,
// writes the joined stream beside the output under a temporary name and renames it into
// place. Nothing it was given is changed; an early end leaves no file of its own. Returns 1
// when the worker was started; outcome, which must outlive the job, tells how it went.
bool StartJoinJob(const JoinRequest& request, JoinOutcome& outcome);

// The volume's extension without its dot: 0KX for volume 0, 10X for 10, 100 for 100.
std::string JoinedVolumeExtension(int index);

// The path of an existing file named name in dir, matched exactly or else ignoring the case
// of ASCII letters; empty when there is none. dir empty means the current directory.
std::string FindFileIgnoringCase(const std::string& dir, const std::string& name);

// The sizes of a set's volumes against the sizes splitting gives them: volumes 1 to N-2 all of
// one size V, volume 0 V + 16 bytes (its header), the last at most V. A set that differs has
// lost or gained data inside its stream, which its decoder cannot always notice.
struct SetShape {
    std::vector<std::int64_t> sizes;   // of each volume, -1 when unknown
    std::int64_t volumeSize = 0;      // V: volume 1's size, or volume 0's less 16 for two volumes
    std::vector<int> oddVolumes;       // volumes 1 to N-2 whose size is not V
    bool firstWrong = false;          // volume 0 is not V + 16 bytes
    bool lastTooLong = false;         // the last volume is longer than V
    bool Sound() const { return oddVolumes.empty() && !firstWrong && !lastTooLong; }
};
// V is the size that most of volume 0 (less its header) and the middle volumes agree on, so
// that a single volume cut short or grown is the one found odd.
SetShape MeasureSet(const std::vector<std::string>& volumes);
// One line for each volume whose size is wrong, naming it: what `test` warns and what a join
// logs before it copies the volumes.
std::vector<std::string> DescribeSetShape(const SetShape& shape, const std::vector<std::string>& volumes);
