// The compressor on several threads: the same stream as implode(), byte for byte, for every
// input, literal coding and dictionary size, in a fraction of the time on a machine with
// several cores.
//
// Unlike the rest of the codec this entry starts threads and allocates its own buffers (a few
// hundred KB per thread, fixed, whatever the input's length); it is its own library
// (codec_parallel) so that the codec proper stays free of both. The callbacks are still called
// on the caller's thread only, in the same sizes as by implode(): reads of up to 4096 bytes
// that fill one block at a time, writes of exactly 2048 bytes and one last write. Reads run
// ahead of the writes by a few segments.
#pragma once

#include <cstdint>

#include "codec/codec.h"

// The input is parsed in segments of this many blocks, one segment per thread at a time.
// When the input ends, the threads that have no segment left wait for the others' last, so
// shorter segments finish inputs of a few MB sooner; every segment costs a little (its seam is
// parsed again, its first blocks sort and filter without the counts of the blocks before), so
// longer ones suit long inputs. With 48 blocks (192 KB) instead of 64, inputs of 4 MB on two
// threads mostly took 1 to 4% less time, and one of 24 MB the same within 1%.
constexpr unsigned IMPLODE_SEGMENT_BLOCKS = 48;
// The largest segment (64 MB of input).
constexpr unsigned IMPLODE_MAX_SEGMENT_BLOCKS = 16384;
// The smallest segment: the second block's searches depend on where the first stopped, so a
// segment's first block is the first block of the input or a later one than the second.
constexpr unsigned IMPLODE_MIN_SEGMENT_BLOCKS = 2;

// Compresses like implode() (same parameters, results and work area) on `threads` threads.
//   threads        0 or 1: implode() itself, on the caller's thread. More: that many threads
//                  parse segments while the caller's thread reads, joins and writes.
//   segmentBlocks  blocks per segment; 0 means IMPLODE_SEGMENT_BLOCKS, others are held
//                  within IMPLODE_MIN_SEGMENT_BLOCKS and IMPLODE_MAX_SEGMENT_BLOCKS.
// pWork serves as for implode(): the last block of the input is coded in it, and its earlier
// content matters in the same way. When the threads or the buffers cannot be had, the call
// falls back to implode() (or, once it has started reading, to parsing on the caller's
// thread), with the same bytes.
unsigned implode_parallel(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                          const unsigned* pType, const unsigned* pDictSize, unsigned threads,
                          unsigned segmentBlocks = 0);

// The number of threads the machine runs at once (at least 1): the default of the callers.
unsigned ImplodeMachineThreads();

namespace codec {

// What the join of one call did, for the tests and the benchmark.
struct ImplodeParallelStats {
    std::uint64_t segments = 0; // segments joined
    std::uint64_t seamsParsedAgain =
        0; // segments whose first block the join parsed from its true start
    std::uint64_t blocksParsedAgain = 0; // blocks the join parsed, in all
};

// implode_parallel, counting into *stats (may be null).
unsigned ImplodeParallelWithStats(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork,
                                  void* pParam, const unsigned* pType, const unsigned* pDictSize,
                                  unsigned threads, unsigned segmentBlocks,
                                  ImplodeParallelStats* stats);

} // namespace codec
