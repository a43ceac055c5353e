// Property: for every input, literal coding and dictionary size, explode(implode(input))
// gives back the input, with CODEC_OK; and the compressor's fast search (three-byte buckets
// for all but the last block) and the compressor on several threads write the very same
// bytes as the plain pair-bucket search.
//
// Input: one byte that chooses the coding (bit 0) and, from the rest v: the dictionary size
// (1024, 2048, 4096 by v modulo 3), the threads (2 + v / 3 modulo 3) and the blocks per
// segment (2 + v / 9 modulo 4: small, so that inputs of a few blocks have several seams);
// then the bytes to compress.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/implode.h"
#include "codec/implode_parallel.h"
#include "tests/support/codecstreams.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_roundtrip: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const unsigned type = data[0] & 1u;
    const unsigned v = data[0] >> 1;
    const unsigned dictSize = 1024u << (v % 3);
    const unsigned threads = 2 + v / 3 % 3;
    const unsigned segmentBlocks = 2 + v / 9 % 4;
    auto work = std::make_unique<CodecWorkArea>();

    MemoryStreams input(data + 1, size - 1);
    Check(implode(ReadMemory, WriteMemory, work.get(), &input, &type, &dictSize) == CODEC_OK,
          "implode failed");

    MemoryStreams plainInput(data + 1, size - 1);
    auto plainWork = std::make_unique<CodecWorkArea>();
    Check(codec::ImplodeWithPairBucketsOnly(ReadMemory, WriteMemory, plainWork.get(), &plainInput,
                                            &type, &dictSize) == CODEC_OK,
          "pair-bucket implode failed");
    Check(plainInput.stream == input.stream,
          "the fast search wrote other bytes than the pair-bucket search");

    MemoryStreams parallelInput(data + 1, size - 1);
    auto parallelWork = std::make_unique<CodecWorkArea>();
    Check(implode_parallel(ReadMemory, WriteMemory, parallelWork.get(), &parallelInput, &type,
                           &dictSize, threads, segmentBlocks) == CODEC_OK,
          "parallel implode failed");
    Check(parallelInput.stream == input.stream, "the threads wrote other bytes than one thread");

    MemoryStreams decoded(input.stream.data(), input.stream.size());
    const unsigned result = explode(ReadMemory, WriteMemory, work.get(), &decoded);
    if (size - 1 == 0) {
        // The stream of an empty input is 4 bytes, which explode refuses as too short.
        Check(result == CODEC_TOO_SHORT && decoded.stream.empty(),
              "empty input did not come back empty");
        return 0;
    }
    Check(result == CODEC_OK, "explode did not return CODEC_OK");
    Check(decoded.stream.size() == size - 1 &&
              std::memcmp(decoded.stream.data(), data + 1, size - 1) == 0,
          "the output differs from the input");
    return 0;
}
