// The codec's read and write callbacks over bytes in memory, for every test and fuzzer that
// runs implode or explode: the input is handed out in pieces of chosen sizes, and every read
// asked, every piece given and every write made is recorded beside the output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "codec/codec.h"

struct MemoryStreams {
    const unsigned char* data = nullptr; // the input
    std::size_t size = 0;
    std::size_t pos = 0;
    // Sizes of successive reads, the last one repeated, never more than was asked; empty: as
    // many bytes as asked.
    std::vector<std::size_t> pieces;
    std::size_t reads = 0;
    bool ended = false;                // a read gave 0 bytes
    bool readAfterEnd = false;         // and the codec asked again
    int calls = 0;                     // reads and writes
    std::vector<unsigned> asked;       // the size argument of each read
    std::vector<unsigned> given;       // what each read returned
    std::vector<unsigned> writes;      // the size of each write
    std::vector<unsigned char> stream; // everything written

    MemoryStreams() = default;
    MemoryStreams(const void* input, std::size_t length, std::vector<std::size_t> pieceSizes = {})
        : data(static_cast<const unsigned char*>(input)),
          size(length),
          pieces(std::move(pieceSizes))
    {
    }
    std::string Output() const { return std::string(stream.begin(), stream.end()); }
};

inline unsigned ReadMemory(unsigned char* buf, unsigned* size, void* param)
{
    auto& s = *static_cast<MemoryStreams*>(param);
    ++s.calls;
    if (s.ended)
        s.readAfterEnd = true;
    s.asked.push_back(*size);
    std::size_t n = *size;
    if (!s.pieces.empty())
        n = std::min(n, s.pieces[std::min(s.reads, s.pieces.size() - 1)]);
    ++s.reads;
    n = std::min(n, s.size - s.pos);
    if (n != 0)
        std::memcpy(buf, s.data + s.pos, n);
    s.pos += n;
    s.given.push_back(static_cast<unsigned>(n));
    if (n == 0)
        s.ended = true;
    return static_cast<unsigned>(n);
}

inline void WriteMemory(unsigned char* buf, unsigned* size, void* param)
{
    auto& s = *static_cast<MemoryStreams*>(param);
    ++s.calls;
    s.writes.push_back(*size);
    s.stream.insert(s.stream.end(), buf, buf + *size);
}

// Compresses size bytes at data whole, in the work area given (as it stands: a fresh program's
// area is all zero); the streams hold the compressed bytes and every call. The result code goes
// to *result when asked for.
inline MemoryStreams ImplodeMemory(const void* data, std::size_t size, unsigned type,
                                   unsigned dictSize, void* work, unsigned* result = nullptr)
{
    MemoryStreams io(data, size);
    const unsigned code = implode(ReadMemory, WriteMemory, work, &io, &type, &dictSize);
    if (result)
        *result = code;
    return io;
}

// Decompresses size bytes at data with explode in the work area given; the streams hold the
// decoded bytes and every call.
inline MemoryStreams ExplodeMemory(const void* data, std::size_t size, void* work,
                                   unsigned* result = nullptr, std::vector<std::size_t> pieces = {})
{
    MemoryStreams io(data, size, std::move(pieces));
    const unsigned code = explode(ReadMemory, WriteMemory, work, &io);
    if (result)
        *result = code;
    return io;
}
