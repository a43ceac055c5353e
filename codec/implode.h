// The compressor's work area. The caller owns it (CODEC_WORK_SIZE bytes, see codec.h) and
// hands it to implode(); the compressor keeps its state in it (and in a few locals of the
// call) and allocates nothing. The window, its bucket tables and the output buffer sit at the
// offsets of the Windows program's work area, and the sorted positions right behind the
// window as there, because one corner of the output depends on what lies behind the window:
// see abWindow below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec.h"

namespace codec {

// The longest match the compressor makes. The format could carry 518, but a match found in
// one block must be checkable entirely within that block's look-ahead.
constexpr unsigned IMPLODE_MAX_MATCH = 516;
// Input is read and coded in blocks of this many bytes.
constexpr unsigned IMPLODE_BLOCK_SIZE = 4096;
// Bytes kept behind each block for the matches that start in it: the longest match.
constexpr unsigned IMPLODE_LOOKAHEAD = IMPLODE_MAX_MATCH;
// The largest dictionary: 64 distance codes times 2^6 low bits.
constexpr unsigned IMPLODE_MAX_DICT = 4096;
// The window: look-ahead carried over, the dictionary, and a new block.
constexpr unsigned IMPLODE_WINDOW_SIZE = IMPLODE_LOOKAHEAD + IMPLODE_MAX_DICT + IMPLODE_BLOCK_SIZE;
// Output is written in pieces of this many bytes; the buffer holds one more byte being filled
// and one spare.
constexpr unsigned IMPLODE_OUT_PIECE = 2048;
constexpr unsigned IMPLODE_OUT_BUFFER = IMPLODE_OUT_PIECE + 2;
// The pair hash 4 * a + 5 * b runs from 0 to 2295; the table is rounded up to 2304 entries
// and has one more behind it.
constexpr unsigned IMPLODE_PAIR_HASHES = 2304;
// The hash of the first three bytes that sorts the positions of most blocks: 2048 values,
// so its bucket starts fit where the pair hash's do.
constexpr unsigned IMPLODE_TRIPLE_HASH_BITS = 11;
constexpr unsigned IMPLODE_TRIPLE_HASHES = 1u << IMPLODE_TRIPLE_HASH_BITS;
static_assert(IMPLODE_TRIPLE_HASHES <= IMPLODE_PAIR_HASHES);
// The filter of recent byte pairs (see ImplodeMatchFinder::NearestPair): two bitmaps of
// IMPLODE_RECENT_PAIR_SLOTS bits each, one per span of IMPLODE_RECENT_PAIR_SPAN positions.
// With 2^15 bits the up to 512 pairs entered leave most bits clear, so few searches reach
// the scan behind the filter on incompressible data.
constexpr unsigned IMPLODE_RECENT_PAIR_BITS = 15;
constexpr unsigned IMPLODE_RECENT_PAIR_SLOTS = 1u << IMPLODE_RECENT_PAIR_BITS;
constexpr unsigned IMPLODE_RECENT_PAIR_SPAN = 256;
// A match of length 2 sends only 2 low distance bits and the distance code (64 entries), so
// it reaches back at most 256 bytes: distance - 1 at most this.
constexpr unsigned IMPLODE_MAX_DIST1_LEN2 = 255;
// Symbols: 256 literals, then one per length 2 to 519; length 519 is the end code.
constexpr unsigned IMPLODE_SYMBOLS = 256 + 518;
constexpr unsigned IMPLODE_END_SYMBOL = IMPLODE_SYMBOLS - 1;

struct ImplodeWork {
    // The Windows program's running values of the search and the bit output: ours are
    // locals of the call (the bit writer keeps its bits in a register), so these are unused.
    std::uint32_t nDistance;
    std::uint32_t nOutBytes;
    std::uint32_t nOutBits;
    std::uint32_t nDictBits; // k: 4, 5 or 6
    std::uint32_t nDictMask; // 2^k - 1
    std::uint32_t nType;     // CODEC_BINARY or CODEC_ASCII
    std::uint32_t nDictSize; // 1024, 2048 or 4096
    // The Windows program kept its distance and symbol tables here, then the caller's
    // parameter and the two callbacks (three 32-bit pointers). Our tables are compile-time
    // constants and our pointers (8 bytes) live in the call's own frame; the space keeps
    // every later field at its original offset and is unused.
    std::uint8_t abUnused[2462];
    std::int16_t awBorder[IMPLODE_MAX_MATCH + 2]; // border table of the long-match scan
    std::uint16_t awBucketStart[IMPLODE_PAIR_HASHES +
                                1]; // first index of each bucket in the sorted positions
    std::uint8_t abOutBuf[IMPLODE_OUT_BUFFER];
    // The window (IMPLODE_WINDOW_SIZE bytes), immediately followed by the window positions
    // ordered by hash (IMPLODE_WINDOW_SIZE 16-bit little-endian values, ascending position
    // within one hash; see SortedPos in implode_match.h).
    //
    // They share one byte array because the Windows program's output depends on it: at the
    // end of the input the pair sort hashes the byte behind the last window position, and a
    // match comparison may run up to IMPLODE_MAX_MATCH - 1 bytes past the window's end. Those
    // bytes are the first positions sorted by pair hash, as the Windows program sorts them
    // (the last block is always sorted that way). Only the choice between candidates whose
    // matches are cut back to the end of the input depends on them, so the stream always
    // decodes correctly either way; keeping the original layout makes it byte-identical too.
    std::uint8_t abWindow[IMPLODE_WINDOW_SIZE * 3];
    std::uint8_t abPad[2];
};

static_assert(sizeof(ImplodeWork) == CODEC_WORK_SIZE, "the work area's size is fixed");
static_assert(offsetof(ImplodeWork, abWindow) == 10186, "the window keeps its original offset");
static_assert(alignof(ImplodeWork) <= alignof(CodecWorkArea), "CodecWorkArea fits an ImplodeWork");

// implode() as the Windows program searches: every block with the pair buckets (see
// implode_match.h). Slower; the tests use it to show that implode() writes the same bytes.
unsigned ImplodeWithPairBucketsOnly(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork,
                                    void* pParam, const unsigned* pType, const unsigned* pDictSize);

} // namespace codec
