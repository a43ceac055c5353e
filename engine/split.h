// Splitting a packed stream into a set of volumes that each fit on one disk (format in
// packedformat.h). Runs on a worker: the pack job's split step, and the split of a packed file
// that already exists (the console's split command).
//
// A split never destroys what it was given or what it replaces before the new set is whole:
// - every question (may an existing volume be replaced?) is asked before anything is written;
// - each volume is written under a temporary name beside its final name;
// - only when every volume is complete do they take their names, volume 0 last; the files they
//   replace are kept aside until then and put back if a rename fails;
// - the stream is read where it lies. A packed file the user gave is never moved, changed or
//   removed by a split that ends early; a complete set replaces it (volume 0 takes its name).
//   A stream the pack job wrote for this split is the job's own and goes whatever happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery.h"

// Chunk size of every read and write of the split: the only data it holds in memory.
constexpr std::size_t SPLIT_CHUNK_SIZE = 10000;

struct SplitRequest {
    // Who owns the stream file, and so what may become of it.
    enum Owner {
        UsersPackedFile, // the packed file itself (streamPath is packedPath): only read;
                         // it stays byte for byte on every early end
        JobsOwnStream,   // a temporary file the pack job wrote: removed whatever happens
    };
    std::string packedPath; // the name volume 0 takes; volume i is named after it
    std::string streamPath; // the single packed stream to cut into volumes
    int volumeSize = 0;     // V: the stream bytes of each volume
    Owner owner = UsersPackedFile;
    // StartSplitJob only: recovery files to write beside the complete set (recovery.h).
    // Without it, recovery files of the single packed file go, since they describe it.
    RecoveryAmount recovery;
    // The user has answered "Yes to all" before the split began: a file under a volume's name
    // is replaced without a question.
    bool replaceAll = false;
};

// How a split went, for the front ends.
struct SplitOutcome {
    bool complete = false;        // the whole set took its names
    bool declined = false;        // a question was answered No or Cancel
    std::int64_t volumeCount = 0; // the volumes the stream needs (may exceed MAX_VOLUMES)
    std::vector<std::string> removedOrphans; // volumes of the replaced set beyond the new count
    // StartSplitJob only: the manifest of ours that was rewritten for the set, or that could
    // not be (and is gone, since it described the single packed file).
    std::string manifestPath;
    bool manifestFailed = false;
    bool manifestMismatch = false; // it did not vouch for the packed file: nothing was written
    bool recoveryWritten = false;  // StartSplitJob with recovery: the recovery files are in place
    std::vector<std::string> recoveryFiles; // their names
};

// Splits the stream of the request into volumes of volumeSize bytes (plus the header in
// volume 0). Logs each volume and reports failures by message box and log, ending with a line
// that says what was left as it was. Returns true when the whole set is in place.
//
// A set of more than MAX_VOLUMES volumes is refused before anything is written. After a
// complete set, the volumes of an older set of the same name beyond the new count are removed
// (they belonged to the set just replaced), each with a line in the log. outcome tells the rest.
bool SplitIntoVolumes(const SplitRequest& request, SplitOutcome& outcome);

// The split of the user's packed file packedPath into volumes of volumeSize bytes.
bool SplitPackedFile(const std::string& packedPath, int volumeSize);

// The split as a job of its own, for a packed file that already exists: on a worker, with the
// splitting state, the banner, the folder's room check and SplitIntoVolumes. A manifest of ours
// beside the packed file (manifest.h) must vouch for it first, and is rewritten for the set;
// any other file of that name is left alone, with a line that says so. Returns true when the
// worker was started; outcome, which must outlive the job, tells how it went once it has ended.
bool StartSplitJob(const SplitRequest& request, SplitOutcome& outcome);

// The split step of the pack job: posts JOB_SPLITTING, logs its banner and cuts
// the job's own stream in streamPath into the volumes of packedPath, of volumeSize bytes; the
// stream is removed whatever happens. replaceAll: the user has answered "Yes to all" about the
// packed file. Returns true when the set is complete.
bool RunSplitStep(const std::string& streamPath, const std::string& packedPath, int volumeSize,
                  bool replaceAll = false);
