// Joining the volumes of a split set back into one implode stream, on the unpack worker.
//
// A packed file that begins with the PackedFileHeader is volume 0 of a set: every volume is
// found beside it (or asked for), and their data is copied, in order, into one temporary file
// that holds the bare stream. A packed file without the header is the stream itself and is
// not copied at all. The volumes are found as engine/volumes.h finds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/packedformat.h"
#include "engine/volumes.h"

// Joins the set that packedPath begins, its volumes found as BuildVolumeList finds them (found
// tells what it found). Returns true with tempName empty when the file has no header (it is
// the stream itself), or true with tempName naming a complete joined file in folder (the
// packed file's own folder when empty), which the caller removes when done. Returns false
// after reporting the failure; nothing it created is left. A header whose count is 0 or
// negative is damaged. Progress moves by the bytes copied.
bool JoinVolumes(const std::string& packedPath, const std::string& folder,
                 const std::vector<std::string>& searchDirs, std::string& tempName,
                 JoinInfo& found);

// A join of a set into one packed file of its own (the console's join command), as a job.
struct JoinRequest {
    std::string packedPath;                    // volume 0 of the set, absolute
    std::string outPath;                       // the single packed file to write, absolute
    std::vector<std::string> volumeSearchDirs; // where missing volumes are looked for, absolute
};
struct JoinOutcome {
    bool started = false;     // the worker ran
    bool joined = false;      // the output holds the joined stream
    bool intoSet = false;     // the output is one of the set's volumes: refused, nothing written
    std::string manifestPath; // the output's manifest, when one was written
    bool manifestFailed =
        false;     // the set had a manifest of ours, the output's could not be written
    JoinInfo join; // the volumes found, or the one missing
};

// Main thread. Asks before an existing output is replaced, then starts the worker: it joins
// the set (volumes found as the unpack job finds them), refuses an output that is one of the
// volumes actually joined, checks a manifest of ours beside the set against those volumes,
// writes the joined stream beside the output under a temporary name and renames it into
// place. Nothing it was given is changed; an early end leaves no file of its own. Returns 1
// when the worker was started; outcome, which must outlive the job, tells how it went.
bool StartJoinJob(const JoinRequest& request, JoinOutcome& outcome);
