// Helpers of the pack tests: the stream the compressor itself writes for some bytes, and a
// pack run to its end through the test host.
#pragma once

#include <string>

#include "codec/codec.h"
#include "engine/packjob.h"
#include "tests/support/testhost.h"

// The implode stream of data (binary literals, 4096-byte dictionary) from a zeroed work area:
// what a fresh program writes.
inline std::string ImplodeBytes(const std::string& data)
{
    struct Io { const std::string* in; std::size_t pos; std::string out; } io{&data, 0, {}};
    static CodecWorkArea work;
    work = CodecWorkArea{};
    const unsigned type = CODEC_BINARY, dict = 4096;
    implode(
        [](unsigned char* buf, unsigned* size, void* p) -> unsigned {
            auto& s = *static_cast<Io*>(p);
            const std::size_t n = std::min<std::size_t>(*size, s.in->size() - s.pos);
            s.in->copy(reinterpret_cast<char*>(buf), n, s.pos);
            s.pos += n;
            return static_cast<unsigned>(n);
        },
        [](unsigned char* buf, unsigned* size, void* p) {
            static_cast<Io*>(p)->out.append(reinterpret_cast<char*>(buf), *size);
        },
        work.bytes, &io, &type, &dict);
    return io.out;
}

// Starts a pack and, when a job started, runs the main thread until it has ended.
inline int PackAndWait(TestHost& host, const std::string& project, int split = 0,
                       int volumeSize = 1440000)
{
    const int started = StartPackJob(project, split, volumeSize);
    if (started)
        host.RunUntilJobEnds();
    return started;
}

inline const char* kPackStart = "\r\n ********* Starting Package Compression *********\r\n";
inline const char* kPackEnd = "\r\n ********* Package Compression Complete *********\r\n";
inline const char* kAborted = "\r\nOperation Aborted by User...\r\n";
