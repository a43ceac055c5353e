// Helpers of the pack tests: the stream the compressor itself writes for some bytes, and a
// pack run to its end through the test host.
#pragma once

#include <string>

#include "codec/codec.h"
#include "engine/packjob.h"
#include "tests/support/codecstreams.h"
#include "tests/support/testhost.h"

// The implode stream of data (binary literals, 4096-byte dictionary) from a zeroed work area:
// what a fresh program writes.
inline std::string ImplodeBytes(const std::string& data)
{
    static CodecWorkArea work;
    work = CodecWorkArea{};
    return ImplodeMemory(data.data(), data.size(), CODEC_BINARY, 4096, work.bytes).Output();
}

// The request of a pack of project, split into volumes of volumeSize bytes when split is set.
inline PackRequest PackOf(const std::string& project, int split = 0, int volumeSize = 1440000)
{
    PackRequest request;
    request.projectPath = project;
    request.split = split != 0;
    request.volumeSize = volumeSize;
    return request;
}

// Starts a pack and, when a job started, runs the main thread until it has ended; outcome
// then tells how the pack went.
inline int PackAndWait(TestHost& host, PackOutcome& outcome, const std::string& project,
                       int split = 0, int volumeSize = 1440000)
{
    const bool started = StartPackJob(PackOf(project, split, volumeSize), outcome);
    if (started)
        host.RunUntilJobEnds();
    return started;
}

// The same for a test that only looks at what the pack wrote.
inline int PackAndWait(TestHost& host, const std::string& project, int split = 0,
                       int volumeSize = 1440000)
{
    PackOutcome outcome;
    return PackAndWait(host, outcome, project, split, volumeSize);
}

inline const char* kPackStart = "\r\n ********* Starting Package Compression *********\r\n";
inline const char* kPackEnd = "\r\n ********* Package Compression Complete *********\r\n";
inline const char* kAborted = "\r\nOperation Aborted by User...\r\n";
