// Timing the codec on a buffer in memory, the same way in the page's module (pw_bench) and in
// the native build (bench/bench_web_native.cpp), so that the two figures compare.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "codec/codec.h"

namespace codecbench {

struct Buffers {
    const std::vector<unsigned char>* in;
    std::size_t pos = 0;
    std::vector<unsigned char>* out;
};

inline unsigned Read(unsigned char* buf, unsigned* size, void* param)
{
    auto& b = *static_cast<Buffers*>(param);
    const std::size_t n = std::min<std::size_t>(*size, b.in->size() - b.pos);
    std::memcpy(buf, b.in->data() + b.pos, n);
    b.pos += n;
    return static_cast<unsigned>(n);
}

inline void Write(unsigned char* buf, unsigned* size, void* param)
{
    auto& b = *static_cast<Buffers*>(param);
    b.out->insert(b.out->end(), buf, buf + *size);
}

// Implodes input as the pack job does (binary literals, 4096-byte dictionary, zeroed work).
inline void Implode(const std::vector<unsigned char>& input, std::vector<unsigned char>& stream)
{
    static CodecWorkArea work;
    std::memset(work.bytes, 0, sizeof work.bytes);
    stream.clear();
    Buffers b{&input, 0, &stream};
    const unsigned type = CODEC_BINARY, dict = 4096;
    implode(Read, Write, work.bytes, &b, &type, &dict);
}

inline void Explode(const std::vector<unsigned char>& stream, std::vector<unsigned char>& output)
{
    static CodecWorkArea work;
    output.clear();
    Buffers b{&stream, 0, &output};
    explode(Read, Write, work.bytes, &b);
}

// The fastest of reps runs of implode (or explode of input's stream), in milliseconds.
// output receives the last run's result, for the caller to check.
inline double BestMilliseconds(const std::vector<unsigned char>& input, bool implode, int reps,
                               std::vector<unsigned char>& output)
{
    std::vector<unsigned char> stream;
    if (!implode)
        Implode(input, stream);
    output.reserve(implode ? input.size() / 2 + 4096 : input.size() + 4096);
    double best = 1e300;
    for (int r = 0; r < reps; ++r) {
        const auto start = std::chrono::steady_clock::now();
        if (implode)
            Implode(input, output);
        else
            Explode(stream, output);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace codecbench
