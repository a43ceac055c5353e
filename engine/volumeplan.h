// The volume plan: the set of files a pack would write, worked out before anything is
// written, and whether the packed file's folder has room for them.
//
// The plan follows the split's own layout (packedformat.h): volume 0 holds the 16-byte header
// and the first V bytes of the stream, every further volume the next V bytes, and the last one
// what is left (nothing when the stream's length is a multiple of V). The stream's length
// comes from compressing the project file to nowhere, through the pack job's own codec
// callbacks and settings, so the plan names exactly the bytes the pack will write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PlannedVolume {
    std::string strPath;
    std::int64_t nSize = 0;
};

// The files that packing to packedPath writes for a stream of streamLength bytes: the single
// packed file when volumeSize is 0, else the volumes of the set, in order.
std::vector<PlannedVolume> PlanVolumes(const std::string& packedPath, std::int64_t streamLength,
                                       int volumeSize);

// Compresses the project file with the pack job's codec settings, on threads threads (0: the
// machine's cores), and throws the output away. Progress moves as in a pack. Returns 1 and the
// stream's length, or 0 when the project file cannot be opened or read.
int MeasureStreamLength(const std::string& projectPath, std::int64_t& streamLength,
                        unsigned threads = 0);

// A length the stream of a project file of projectLength bytes never exceeds: every byte a
// literal of 9 bits in the worst case, with a wide margin for the header, the end code and
// short matches that cost more than their literals would.
std::int64_t WorstCaseStreamLength(std::int64_t projectLength);

// What a pack or a split needs in the packed file's folder at its fullest, against what the
// folder has.
struct RoomCheck {
    std::string strFolder;        // the folder, as shown to the user
    std::int64_t nNeeded = 0;     // bytes the job adds at its peak, less what it replaces
    std::int64_t nAvailable = -1; // -1 when the file system cannot tell
    bool Enough() const { return nAvailable < 0 || nNeeded <= nAvailable; }
};

// A pack (and, when volumeSize is not 0, its split) of a stream of streamLength bytes. The
// pack writes the stream beside the packed file first; the split then copies it into the
// volumes while it still exists, so a split needs the stream's size twice. Files of the same
// names that the job replaces stay until the new ones are complete, so they free no room.
RoomCheck RoomForPack(const std::string& packedPath, std::int64_t streamLength, int volumeSize);
// A split of the stream in streamPath into the volumes of packedPath, of volumeSize bytes: the
// stream and every file it replaces stay until the last volume is complete.
RoomCheck RoomForSplit(const std::string& streamPath, const std::string& packedPath,
                       int volumeSize);

// Shows the "not enough room" message when the check fails; 1 when there is room.
int ReportRoom(const RoomCheck& check);

// Before a pack with a split: 1 when the packed file's folder has room for the stream and the
// volumes at once, else 0 after the "not enough room" message (ReportRoom). The stream's
// worst-case length settles it at once when the folder is roomy; otherwise the project file is
// compressed to nowhere first, so that only a real shortage is refused, with quiet(true) before
// and quiet(false) after, for a front end that hides that progress. A project file that cannot
// be read passes: the pack itself reports it. The console runs it before it starts the pack,
// the window's pack job on its worker (PackRequest::checkRoomFirst).
int CheckRoomForSplitPack(const std::string& projectPath, const std::string& packedPath,
                          int volumeSize, unsigned threads,
                          const std::function<void(bool)>& quiet = {});
