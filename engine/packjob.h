// The pack job: compresses a project file with the implode method into a packed file of the
// same name with the extension ".0KX" beside it, on a worker thread, reports the sizes, and
// splits the packed file into volumes when asked (split.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/codecwork.h"

// The size report (message 1233): original size, compressed size and the compressed size as
// a percentage of the original with two decimals. An empty original reports 0.00.
std::string FormatSizeReport(std::int64_t originalSize, std::uint64_t compressedSize);

// Main thread. Fills the job context, names the packed file, asks about an existing one and
// starts PackWorker. Returns 1 when the worker was started, 0 when no job starts (the packed
// file was refused, the project file is its own packed file, or no thread could be made).
int StartPackJob(const std::string& projectPath, int splitFile, int volumeSize);

// The worker. Ends itself; the job posts JOB_IDLE as its last state.
void PackWorker();

// 1 when the last pack job wrote its packed file (and, when splitting, the whole set);
// 0 otherwise. Written by the worker, to be read once its thread has ended.
extern int g_bPackSucceeded;
