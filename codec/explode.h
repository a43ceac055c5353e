// The decompressor's work area. explode() (declared in codec.h) keeps its whole state here;
// the caller owns the memory and hands it in as pWork, uninitialised.
//
// Output window: positions 0 to 4095 hold the 4096 bytes written before the production area
// (the history a match may reach into), the production area behind them takes the pieces
// being produced. Each piece is written in one call as soon as it is full; when the whole
// production area is full, its last 4096 bytes are moved down to become the new history.
// Producing several pieces between two moves keeps the cost of the move small. One step of
// the decoder that starts at the production area's last byte may add four literals and a
// match of 518 bytes, so the window has room behind it for those plus the slack of the
// word-wise match copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec.h"

// Bytes of history a match may reach back: the largest dictionary.
constexpr unsigned EXPLODE_HISTORY = 4096;
// Bytes of output per write call.
constexpr unsigned EXPLODE_PIECE = 4096;
// Bytes produced between two moves of the history: a whole number of pieces.
constexpr unsigned EXPLODE_PRODUCTION = 4 * EXPLODE_PIECE;
// Longest match the format can carry (class 15, extra value 254).
constexpr unsigned EXPLODE_MAX_MATCH = 518;
// Binary literals that the decoder stores in one step before the match that follows them.
constexpr unsigned EXPLODE_LITERALS_BEFORE_MATCH = 4;
// A match copied in 16-byte pieces may store up to 15 bytes past its end.
constexpr unsigned EXPLODE_COPY_SLACK = 16;
// Window: history, the production area, the overrun of a step that starts at the area's
// last byte (literals and a match behind them).
constexpr unsigned EXPLODE_WINDOW_SIZE = EXPLODE_HISTORY + EXPLODE_PRODUCTION - 1 +
                                         EXPLODE_LITERALS_BEFORE_MATCH + EXPLODE_MAX_MATCH +
                                         EXPLODE_COPY_SLACK;
// Stream bits behind a match's flag that one lookup decodes at once (see alMatchEntry).
constexpr unsigned EXPLODE_MATCH_BITS = 11;
// Bytes asked of the read callback per call.
constexpr unsigned EXPLODE_READ_SIZE = 2048;

struct ExplodeWork {
    std::uint32_t nType; // literal coding from header byte 0
    std::uint32_t
        nOutPos; // next write position in abWindow (in the production area between tokens)
    std::uint32_t nDictBits;  // k from header byte 1
    std::uint32_t nDictMask;  // 2^k - 1
    std::uint64_t nBitBuf;    // unread stream bits, the next one in bit 0
    std::uint32_t nBitCount;  // valid bits in nBitBuf
    std::uint32_t nInPos;     // next byte of abInBuf to load into nBitBuf
    std::uint32_t nInBytes;   // bytes in abInBuf from the last read
    std::uint32_t nReadSize;  // the size argument of each read call
    bool bInputEnded;         // a read returned 0: the stream has no more bytes
    std::uint64_t nBytesRead; // bytes the read callback delivered, the header's included
    std::uint64_t nEndBits;   // after the end code: the stream's bits up to its last one
    void* pParam;             // the caller's parameter, handed to both callbacks
    CodecReadFn pfnRead;
    CodecWriteFn pfnWrite;
    unsigned char abWindow[EXPLODE_WINDOW_SIZE];
    unsigned char abInBuf[EXPLODE_READ_SIZE];
    // Next 8 stream bits -> the length code they begin with: its bits in bits 0-3, the extra
    // bits that follow it in bits 4-7, the base length (2 and up) in bits 16-31.
    std::uint32_t alLenEntry[256];
    // Next 8 stream bits -> the distance code they begin with: its bits in bits 0-3, the code
    // (the high distance bits) from bit 4 on.
    std::uint16_t awDistEntry[256];
    // A whole match in one lookup: the next EXPLODE_MATCH_BITS stream bits behind a match's
    // flag -> its length code, extra bits and distance code when all of them fit. Bits 0-3:
    // the bits to drop with the flag; bits 4-7: the low distance bits that follow; bits 8-15:
    // the length; bits 16-31: the distance without its low bits, plus 1. 0: the codes do not
    // fit, or they make the end code.
    std::uint32_t alMatchEntry[1u << EXPLODE_MATCH_BITS];
    // ASCII literals: the byte in bits 0-7, the bits still to drop after the lookup from bit 8.
    std::uint16_t awAsciiEntry[256];  // next 8 bits, for codes of up to 8 bits; 0xFFFF: longer
    std::uint16_t awAsciiEntry4[256]; // after 4 bits dropped, next 8 bits
    std::uint16_t awAsciiEntry6[128]; // after 6 bits dropped, next 7 bits
    std::uint16_t awAsciiEntry8[256]; // after 8 bits dropped, next 8 bits
};

// After explode returned CODEC_OK on the work area pWork: how many bits of the stream, from its
// first header byte, reach to the last bit of the end code. The decoder needs nothing behind
// them, so a stream cut to (bits + 7) / 8 bytes still decodes completely, and any byte after
// those is data behind the end code.
std::uint64_t ExplodeEndCodeBits(const void* pWork);

// The smallest work area explode accepts.
constexpr std::size_t EXPLODE_WORK_SIZE = sizeof(ExplodeWork);

// The decoder has always had at least 12596 bytes of work area (window, input buffer and
// tables); ours is a little larger for the word-wise copy, and the shared area must hold it.
static_assert(EXPLODE_WORK_SIZE >= 12596,
              "explode's work area is documented as 12596 bytes or more");
static_assert(EXPLODE_WORK_SIZE <= CODEC_WORK_SIZE,
              "the shared codec work area must hold ExplodeWork");
static_assert(alignof(ExplodeWork) <= alignof(CodecWorkArea),
              "CodecWorkArea must be aligned for ExplodeWork");
