// Runs implode over a byte vector and records what the callbacks saw: every read (bytes
// asked, bytes given), every write (its size), and the stream as the concatenation of the
// writes. Shared by the compressor's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/implode.h"
#include "codec/implode_parallel.h"

namespace harness {

using Bytes = std::vector<std::uint8_t>;

struct Source {
    const Bytes* data = nullptr;
    std::size_t pos = 0;
    std::size_t piece = 0; // at most this many bytes per read (0: as many as asked)
    bool ended = false;
    bool readAfterEnd = false;
    std::vector<unsigned> asked;
    std::vector<unsigned> given;
    Bytes stream;
    std::vector<unsigned> writes;
    int calls = 0;
};

inline unsigned Read(unsigned char* buf, unsigned* size, void* param)
{
    auto& s = *static_cast<Source*>(param);
    ++s.calls;
    if (s.ended)
        s.readAfterEnd = true;
    s.asked.push_back(*size);
    std::size_t n = std::min<std::size_t>(*size, s.data->size() - s.pos);
    if (s.piece != 0)
        n = std::min(n, s.piece);
    if (n != 0)
        std::memcpy(buf, s.data->data() + s.pos, n);
    s.pos += n;
    s.given.push_back(static_cast<unsigned>(n));
    if (n == 0)
        s.ended = true;
    return static_cast<unsigned>(n);
}

inline void Write(unsigned char* buf, unsigned* size, void* param)
{
    auto& s = *static_cast<Source*>(param);
    ++s.calls;
    s.writes.push_back(*size);
    s.stream.insert(s.stream.end(), buf, buf + *size);
}

struct Result {
    unsigned code = 0;
    Source io;
};

// A fresh work area, all zero, then altered by `prepare` when one is given.
inline std::unique_ptr<CodecWorkArea> PreparedArea(const std::function<void(codec::ImplodeWork&)>& prepare)
{
    auto area = std::make_unique<CodecWorkArea>(); // value-initialised: all zero
    if (prepare)
        prepare(*reinterpret_cast<codec::ImplodeWork*>(area->bytes));
    return area;
}

// Compresses data in a fresh, zeroed work area; `prepare` may alter the area first.
inline Result Implode(const Bytes& data, unsigned type, unsigned dictSize, std::size_t piece = 0,
                      const std::function<void(codec::ImplodeWork&)>& prepare = {}, bool pairBucketsOnly = false)
{
    const auto area = PreparedArea(prepare);
    Result r;
    r.io.data = &data;
    r.io.piece = piece;
    r.code = pairBucketsOnly
        ? codec::ImplodeWithPairBucketsOnly(Read, Write, area->bytes, &r.io, &type, &dictSize)
        : implode(Read, Write, area->bytes, &r.io, &type, &dictSize);
    return r;
}

// Compresses data with implode_parallel in a fresh, zeroed work area; `prepare` may alter the
// area first.
inline Result ImplodeParallel(const Bytes& data, unsigned type, unsigned dictSize, unsigned threads,
                              unsigned segmentBlocks, std::size_t piece = 0,
                              const std::function<void(codec::ImplodeWork&)>& prepare = {})
{
    const auto area = PreparedArea(prepare);
    Result r;
    r.io.data = &data;
    r.io.piece = piece;
    r.code = implode_parallel(Read, Write, area->bytes, &r.io, &type, &dictSize, threads, segmentBlocks);
    return r;
}

// Decompresses a stream with the real explode; result receives its result code.
inline Bytes Explode(const Bytes& stream, unsigned& result)
{
    struct Io {
        const Bytes* in;
        std::size_t pos = 0;
        Bytes out;
    } io{&stream, 0, {}};
    auto area = std::make_unique<CodecWorkArea>();
    result = explode(
        [](unsigned char* buf, unsigned* size, void* param) -> unsigned {
            auto& s = *static_cast<Io*>(param);
            const std::size_t n = std::min<std::size_t>(*size, s.in->size() - s.pos);
            if (n != 0)
                std::memcpy(buf, s.in->data() + s.pos, n);
            s.pos += n;
            return static_cast<unsigned>(n);
        },
        [](unsigned char* buf, unsigned* size, void* param) {
            static_cast<Io*>(param)->out.insert(static_cast<Io*>(param)->out.end(), buf, buf + *size);
        },
        area->bytes, &io);
    return io.out;
}

} // namespace harness
