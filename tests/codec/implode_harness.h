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
#include "tests/support/codecstreams.h"

namespace harness {

using Bytes = std::vector<std::uint8_t>;

// The harness's streams are the tests' memory streams: the input in pieces, every call recorded.
using Source = MemoryStreams;

// At most `piece` bytes per read (0: as many as asked).
inline std::vector<std::size_t> PieceSizes(std::size_t piece)
{
    return piece == 0 ? std::vector<std::size_t>{} : std::vector<std::size_t>{piece};
}

struct Result {
    unsigned code = 0;
    Source io;
};

// A fresh work area, all zero, then altered by `prepare` when one is given.
inline std::unique_ptr<CodecWorkArea>
PreparedArea(const std::function<void(codec::ImplodeWork&)>& prepare)
{
    auto area = std::make_unique<CodecWorkArea>(); // value-initialised: all zero
    if (prepare)
        prepare(*reinterpret_cast<codec::ImplodeWork*>(area->bytes));
    return area;
}

// Compresses data in a fresh, zeroed work area; `prepare` may alter the area first.
inline Result Implode(const Bytes& data, unsigned type, unsigned dictSize, std::size_t piece = 0,
                      const std::function<void(codec::ImplodeWork&)>& prepare = {},
                      bool pairBucketsOnly = false)
{
    const auto area = PreparedArea(prepare);
    Result r;
    r.io = MemoryStreams(data.data(), data.size(), PieceSizes(piece));
    r.code = pairBucketsOnly
                 ? codec::ImplodeWithPairBucketsOnly(ReadMemory, WriteMemory, area->bytes, &r.io,
                                                     &type, &dictSize)
                 : implode(ReadMemory, WriteMemory, area->bytes, &r.io, &type, &dictSize);
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
    r.io = MemoryStreams(data.data(), data.size(), PieceSizes(piece));
    r.code = implode_parallel(ReadMemory, WriteMemory, area->bytes, &r.io, &type, &dictSize,
                              threads, segmentBlocks);
    return r;
}

// Decompresses a stream with the real explode; result receives its result code.
inline Bytes Explode(const Bytes& stream, unsigned& result)
{
    auto area = std::make_unique<CodecWorkArea>();
    const MemoryStreams io = ExplodeMemory(stream.data(), stream.size(), area->bytes, &result);
    return Bytes(io.stream.begin(), io.stream.end());
}

} // namespace harness
