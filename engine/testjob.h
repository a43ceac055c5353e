// The test of a packed file or a set as a job: on a worker, the manifest beside the packed file
// is examined, the set is checked without restoring anything (engine/packcheck.h), and the
// report's lines and verdict are left in the outcome for the front end to show.
#pragma once

#include <string>
#include <vector>

#include "engine/packcheck.h"

struct TestOutcome {
    bool started = false; // the worker ran
    // "Warning: ..." lines, in the order they are shown: the manifest's (a file of that name
    // that is not ours, left alone), then the check's.
    std::vector<std::string> warnings;
    std::string verdict; // the verdict on the packed file, one line
    // With a manifest of ours: one line per mismatch, or one that says all match.
    std::vector<std::string> manifestLines;
    bool streamSound = false; // the stream decodes completely and the set is whole
    bool sound = false;       // streamSound, and every checksum of our manifest matches
    // A cancel came during the check: a verdict may blame a read that failed on purpose. The
    // log says the test was cancelled instead of the report; sound stays as the check found.
    bool cancelled = false;
    // Recovery files beside the set (recovery.h): that every file matches them, shown after
    // the verdict; and whether what is damaged can be rebuilt from them.
    std::vector<std::string> recoveryLines;
    bool repairable = false;
    // The check itself: the volumes read or missing, the sizes; what an inventory lists.
    PackedFileReport report;
    // A manifest of ours lay beside the packed file, and every checksum in it matched.
    bool manifestVouched = false;
};

// Main thread. Starts the worker, which tests request.packedPath (its missing volumes found
// as the unpack job finds them: beside it, in request.volumeSearchDirs, then by asking), takes
// the checksum of the decoded bytes when a manifest of ours lies beside it, and fills outcome.
// With request.logReport the job also writes its start line and, at the end, its lines to the
// Status log (a cancel logs that it was cancelled instead). request.restoredDigest is decided
// by the job. Recovery files beside the set are verified first: when they find files damaged
// or missing, the verdict says which and whether they can be rebuilt, and the stream is not
// decoded (a missing volume is not asked for). Returns true when the worker was started;
// outcome, which must outlive the job, tells how it went once the job is idle.
bool StartTestJob(const CheckRequest& request, TestOutcome& outcome);
