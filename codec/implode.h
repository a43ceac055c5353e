// The compressor's work area. The caller owns it (CODEC_WORK_SIZE bytes, see codec.h) and
// hands it to implode(); the compressor keeps every bit of its state in it and allocates
// nothing. The layout is that of the Windows program's work area, field for field, because
// one corner of the output depends on it: see abWindow below.
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
// Symbols: 256 literals, then one per length 2 to 519; length 519 is the end code.
constexpr unsigned IMPLODE_SYMBOLS = 256 + 518;
constexpr unsigned IMPLODE_END_SYMBOL = IMPLODE_SYMBOLS - 1;

struct ImplodeWork {
    std::uint32_t nDistance; // distance - 1 of the match the last search found
    std::uint32_t nOutBytes; // complete bytes in abOutBuf (the index of the byte being filled)
    std::uint32_t nOutBits;  // bits used in the byte being filled, 0 to 7
    std::uint32_t nDictBits; // k: 4, 5 or 6
    std::uint32_t nDictMask; // 2^k - 1
    std::uint32_t nType;     // CODEC_BINARY or CODEC_ASCII
    std::uint32_t nDictSize; // 1024, 2048 or 4096
    std::uint8_t abDistBits[64];
    std::uint8_t abDistCodes[64];
    std::uint8_t abSymBits[IMPLODE_SYMBOLS];       // total bits of each symbol, flag included
    std::uint16_t awSymCodes[IMPLODE_SYMBOLS];     // its value, written least significant bit first
    // The Windows program kept the caller's parameter and the two callbacks (three 32-bit
    // pointers) here. Our pointers are 8 bytes, so they live in the call's own frame instead,
    // and these bytes keep every later field at its original offset.
    std::uint8_t abUnused[12];
    std::int16_t awBorder[IMPLODE_MAX_MATCH + 2];       // border table of the long-match scan
    std::uint16_t awPairStart[IMPLODE_PAIR_HASHES + 1]; // first index of each bucket in the sorted positions
    std::uint8_t abOutBuf[IMPLODE_OUT_BUFFER];
    // The window (IMPLODE_WINDOW_SIZE bytes), immediately followed by the window positions
    // ordered by pair hash (IMPLODE_WINDOW_SIZE 16-bit little-endian values, ascending
    // position within one hash; see SortedPos in implode.cpp).
    //
    // They share one byte array because the Windows program's output depends on it: at the
    // end of the input the pair sort hashes the byte behind the last window position, and a
    // match comparison may run up to IMPLODE_MAX_MATCH - 1 bytes past the window's end. Those
    // bytes are the first sorted positions. Only the choice between candidates whose matches
    // are cut back to the end of the input depends on them, so the stream always decodes
    // correctly either way; keeping the original layout makes it byte-identical as well.
    std::uint8_t abWindow[IMPLODE_WINDOW_SIZE * 3];
    std::uint8_t abPad[2];
};

static_assert(sizeof(ImplodeWork) == CODEC_WORK_SIZE, "the work area's size is fixed");
static_assert(offsetof(ImplodeWork, abWindow) == 10186, "the window keeps its original offset");
static_assert(alignof(ImplodeWork) <= alignof(CodecWorkArea), "CodecWorkArea fits an ImplodeWork");

} // namespace codec
