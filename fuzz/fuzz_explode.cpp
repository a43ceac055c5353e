// Property: explode never crashes, hangs or touches memory outside its work area and the
// buffers it is handed, for any bytes cut into reads of any sizes; the pieces do not change
// the result or the output; the output never depends on what the work area held before, comes
// in 4096-byte writes and one final shorter one, and is never longer than the input could
// encode.
//
// Input: two bytes that choose the read-piece sizes, then the stream.
//
// The bytes are checked against the plain token reader of the codec tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/explode.h"
#include "tests/codec/token_reader.h"
#include "tests/support/codecstreams.h"

namespace {

// The most output one bit of stream can carry: a 518-byte match costs at least 22 bits
// (flag, 7-bit length code, 8 extra bits, 2-bit distance code, 4 low distance bits).
constexpr std::uint64_t MAX_MATCH = 518;
constexpr std::uint64_t MIN_MATCH_BITS = 22;

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_explode: %s\n", what);
        std::abort();
    }
}

// The sizes of successive reads that pieceState generates, enough for one byte a read; none
// (everything asked for at once) for 0. The first read gets at least 5 bytes, so that explode
// decodes.
std::vector<std::size_t> PieceSizes(std::size_t size, std::uint32_t pieceState)
{
    std::vector<std::size_t> pieces;
    if (pieceState == 0)
        return pieces;
    for (std::size_t i = 0; i < size + 2; ++i) {
        pieceState = pieceState * 1103515245u + 12345u;
        pieces.push_back(i == 0 ? 5 + (pieceState >> 16) % 2044 : 1 + (pieceState >> 16) % 2048);
    }
    return pieces;
}

unsigned Explode(MemoryStreams& io, unsigned char fill)
{
    // Exactly the documented size, so that anything past it is outside the allocation.
    auto work = std::make_unique<unsigned char[]>(EXPLODE_WORK_SIZE);
    std::memset(work.get(), fill, EXPLODE_WORK_SIZE);
    const unsigned result = explode(ReadMemory, WriteMemory, work.get(), &io);
    Check(!io.readAfterEnd, "read again after the input had ended");
    Check(std::all_of(io.asked.begin(), io.asked.end(),
                      [](unsigned n) { return n == EXPLODE_READ_SIZE; }),
          "a read asked for other than 2048 bytes");
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint32_t pieceState = static_cast<std::uint32_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;

    MemoryStreams whole(data, size);
    const unsigned result = Explode(whole, 0x00);
    Check(result <= CODEC_STREAM_ENDED, "unknown result code");
    Check((result == CODEC_TOO_SHORT) == (size <= 4),
          "too short although the first read had 5 bytes");
    if (result == CODEC_TOO_SHORT || result == CODEC_BAD_DICT_SIZE || result == CODEC_BAD_TYPE) {
        Check(whole.writes.empty(), "wrote after a header error");
        Check(whole.reads == 1, "read on after a header error");
        return 0;
    }
    Check(!whole.writes.empty() && whole.writes.back() < 4096,
          "no final write shorter than 4096 bytes");
    for (std::size_t i = 0; i + 1 < whole.writes.size(); ++i)
        Check(whole.writes[i] == 4096, "a write before the last one was not 4096 bytes");
    const std::uint64_t streamBits = (size - 2) * std::uint64_t{8};
    Check(whole.stream.size() * MIN_MATCH_BITS <= streamBits * MAX_MATCH,
          "more output than the input can encode");

    // The plain reader of the tests, one bit at a time, decodes the same bytes: the shorter
    // output is the start of the longer (explode stops where a token's lookahead is missing,
    // the plain reader at a distance before the first byte, where explode reads zeros), and a
    // stream that the plain reader reads to its end code is decoded whole.
    const tokens::Decoded plain = tokens::Decode(std::vector<std::uint8_t>(data, data + size));
    const std::size_t common = std::min(plain.data.size(), whole.stream.size());
    Check(std::equal(plain.data.begin(), plain.data.begin() + static_cast<std::ptrdiff_t>(common),
                     whole.stream.begin()),
          "the output differs from the plain reader's");
    if (plain.ok) {
        Check(result == CODEC_OK, "a whole stream was not decoded to its end code");
        Check(whole.stream.size() == plain.data.size(), "a whole stream decoded to another length");
    }

    // Another piece pattern and a work area full of old bytes change nothing.
    MemoryStreams pieces(data, size, PieceSizes(size, pieceState | 1));
    const unsigned piecesResult = Explode(pieces, 0xA5);
    Check(piecesResult == result, "the read pieces changed the result");
    Check(pieces.stream == whole.stream,
          "the read pieces or old work-area bytes changed the output");
    Check(pieces.writes == whole.writes, "the read pieces changed the writes");
    return 0;
}
