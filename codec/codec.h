// The implode codec: a sliding-dictionary compressor with fixed prefix codes and its
// decompressor. Every packed file of Pack Tool holds one such stream, so the bytes the
// compressor writes for a given input, literal coding and dictionary size are fixed.
//
// Both entry points stream through two caller-supplied callbacks and keep every bit of
// their state in a caller-owned work area: no allocation, no files, no threads, no globals
// except read-only tables. One work area serves one call at a time.
//
// Stream format: byte 0 is the literal coding (CODEC_BINARY or CODEC_ASCII), byte 1 the
// dictionary size code k (4, 5, 6 for 1024, 2048, 4096 bytes), then a bit stream of
// tokens, least significant bit first, closed by the end code (length 519).
#pragma once

#include <cstddef>

// Result codes of implode and explode.
enum : unsigned {
    CODEC_OK = 0,            // the whole stream was written (implode) or decoded (explode)
    CODEC_BAD_DICT_SIZE = 1, // dictionary size not 1024, 2048 or 4096 (header byte 1 not 4, 5, 6)
    CODEC_BAD_TYPE = 2,      // literal coding neither 0 nor 1
    CODEC_TOO_SHORT = 3,     // explode: the first read delivered 4 bytes or fewer
    CODEC_STREAM_ENDED = 4,  // explode: the input ended before the end code
};

// Literal codings (header byte 0).
enum : unsigned {
    CODEC_BINARY = 0, // a literal is a flag bit and the byte's 8 bits
    CODEC_ASCII = 1,  // a literal is a flag bit and a 4- to 13-bit code tuned for text
};

// Read callback. Before the call the codec stores in *size the number of bytes it wants;
// the callback places at most that many bytes at the start of buf and returns how many it
// placed. 0 means the input has ended (a read error must also be reported as 0). The codec
// never reads *size back: only the returned count counts.
using CodecReadFn = unsigned (*)(unsigned char* buf, unsigned* size, void* param);

// Write callback: the callback must take all *size bytes of buf. The codec cannot learn of
// a failure; a caller that must know records it through param.
using CodecWriteFn = void (*)(unsigned char* buf, unsigned* size, void* param);

// Size of the program's codec work area, shared by compressor and decompressor (one job at a
// time). The compressor's work area has exactly this size; the decompressor needs less.
constexpr std::size_t CODEC_WORK_SIZE = 36312;

// The program's codec work area, aligned for either work structure.
struct alignas(8) CodecWorkArea {
    unsigned char bytes[CODEC_WORK_SIZE];
};

// Compresses everything the read callback delivers into one stream.
//   pWork     an ImplodeWork area (CODEC_WORK_SIZE bytes); its earlier content matters only
//             for the choice between equal candidates at the very end of the input, so a
//             caller that wants repeatable bytes hands in a zeroed area.
//   pType     address of the literal coding, CODEC_BINARY or CODEC_ASCII.
//   pDictSize address of the dictionary size in bytes: 1024, 2048 or 4096.
// Reads: 4096 bytes asked at the start of each block; after a short count the rest, until the
// block is full or a read returns 0 (no read follows a 0). Writes: exactly 2048 bytes per
// call, the two header bytes in the first, then one final call with the rest (0 to 2048).
// Returns CODEC_OK, or CODEC_BAD_DICT_SIZE (tested first) / CODEC_BAD_TYPE without calling
// either callback.
unsigned implode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                 const unsigned* pType, const unsigned* pDictSize);

// Decompresses one stream.
//   pWork     an ExplodeWork area (at least EXPLODE_WORK_SIZE bytes; CodecWorkArea fits).
// Reads: 2048 bytes asked per call. Writes: 4096 bytes per call, then one final call with the
// rest (0 to 4095), also when the stream ended early.
// Returns, with the checks in this order: CODEC_TOO_SHORT (first read of 4 bytes or fewer,
// nothing written), CODEC_BAD_DICT_SIZE, CODEC_BAD_TYPE (nothing written), then CODEC_OK
// when the end code was decoded or CODEC_STREAM_ENDED when the input ran out before it.
unsigned explode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam);
