// The pack job: compresses a project file with the implode method into a packed file of the
// same name with the extension ".0KX" beside it, on a worker thread, reports the sizes, and
// splits the packed file into volumes when asked (split.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/recovery.h"

// The size report (message 1233): original size, compressed size and the compressed size as
// a percentage of the original with two decimals. An empty original reports 0.00.
std::string FormatSizeReport(std::int64_t originalSize, std::uint64_t compressedSize);

// What a pack is asked to do.
struct PackRequest {
    std::string projectPath; // the project file to pack
    bool split = false;      // cut the packed file into volumes once it is complete
    int volumeSize = 0;      // V: the stream bytes of each volume, when splitting
    unsigned threads = 0;    // threads to compress on; 0: the machine's cores
    // Write the checksums (NAME.sha256, manifest.h) beside the set once it is complete, while
    // the job still holds the packed file's name, and log whether they were written. Without it the pack removes an old manifest of ours,
    // which would no longer match.
    bool writeManifest = false;
    // Write recovery files beside the complete set (recovery.h): volumes' worth for a split,
    // a percentage for either. Without it, recovery files of an earlier set of the name go.
    RecoveryAmount recovery;
    // With a split: make sure the folder has room for the stream and the volumes before
    // compressing (CheckRoomForSplitPack, volumeplan.h), instead of failing once the disk is
    // full. The console checks before it starts the job.
    bool checkRoomFirst = false;
};

// How a pack went. Written by StartPackJob and the worker; read once the job has ended.
struct PackOutcome {
    bool succeeded = false;    // the packed file (and, when splitting, the whole set) is written
    std::string packedPath;    // the packed file the job writes: the project file's name + ".0KX"
    std::string projectDigest; // the project file's SHA-256 in hex, when asked for
    bool manifestWritten = false;           // writeManifest: the checksums are beside the set
    bool recoveryWritten = false;           // recovery: the recovery files are beside the set
    std::vector<std::string> recoveryFiles; // their names
};

// Main thread. Names the packed file, asks about an existing one and starts the worker, which
// fills outcome: it must outlive the job. Returns true when the worker was started, false when no job
// starts (the packed file was refused, the project file is its own packed file or no regular
// file, or no thread could be made).
bool StartPackJob(const PackRequest& request, PackOutcome& outcome);
