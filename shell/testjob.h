// The window's Test command on its worker: the packed file or set is decoded into nothing by
// the console's check (engine/packcheck.h), and the log says whether it is sound.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "engine/manifest.h"

// What a test found, written by its worker and read by the window once the worker has ended.
struct TestOutcome {
    std::atomic<bool> bSound{false}; // the stream is complete and every checksum matches
    ManifestCheck manifest;          // the manifest beside the packed file, examined beforehand
};

// Main thread. Examines the manifest beside packedPath (a warning line for one that is not
// ours), logs the start line, then starts the worker: it logs the check's warnings, the verdict and
// the manifest's findings, and posts JOB_IDLE when done. Missing volumes are asked for through
// the main window as the unpack job asks. Returns false when no worker could be started.
bool StartTestJob(const std::string& packedPath, const std::shared_ptr<TestOutcome>& outcome);
