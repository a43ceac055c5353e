// The compressor on several threads writes the very bytes of the single-threaded one, and
// of the search with pair buckets only, in the same reads and writes: on data of every kind,
// at sizes around the block and segment boundaries, with both codings, every dictionary,
// several thread counts and segment sizes, and with work areas full of old bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/implode.h"
#include "codec/implode_parallel.h"
#include "implode_harness.h"

namespace {

using harness::Bytes;

constexpr std::size_t kBlock = codec::IMPLODE_BLOCK_SIZE;

// Data of the kinds the corpus holds, cut to any size.
enum class Kind {
    Text,
    Source,
    Records,
    Binary,
    Random,
    Zeros,
    Mixed
};

Bytes MakeData(Kind kind, std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    auto append = [&](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
    static const char* const words[] = {"the ",    "pack ",   "tool ", "floppy ",
                                        "volume ", "header ", "of ",   "and "};
    while (out.size() < size) {
        switch (kind) {
        case Kind::Text:
            append(words[rng() % 8]);
            if (rng() % 12 == 0)
                append(".\r\n");
            break;
        case Kind::Source:
            append("    if (value" + std::to_string(rng() % 40) +
                   " != nullptr)\n        return Find(" + std::to_string(rng() % 1000) + ");\n");
            break;
        case Kind::Records: { // fixed-size records: counters, short names, zero padding
            const auto i = static_cast<std::uint32_t>(out.size() / 48);
            std::uint8_t rec[48] = {};
            std::memcpy(rec, &i, 4);
            const std::uint32_t value = rng() % (1u << 20);
            std::memcpy(rec + 4, &value, 4);
            const std::string name = std::string(words[rng() % 8]) + std::to_string(rng() % 1000);
            std::memcpy(rec + 8, name.data(), name.size());
            out.insert(out.end(), rec, rec + 48);
            break;
        }
        case Kind::Binary: { // instruction-like bytes: a small alphabet, repeated sequences
            const std::size_t n = 1 + rng() % 64;
            if (out.size() > 4096 && rng() % 3 == 0) {
                const std::size_t from = out.size() - 1 - rng() % 4000;
                for (std::size_t i = 0; i < n; ++i)
                    out.push_back(out[from + i]);
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    out.push_back(static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : rng() % 24));
            }
            break;
        }
        case Kind::Random: out.push_back(static_cast<std::uint8_t>(rng())); break;
        case Kind::Zeros: out.push_back(0); break;
        case Kind::Mixed: // stretches of every other kind
            const Bytes part = MakeData(static_cast<Kind>(rng() % 6), 1 + rng() % 9000,
                                        static_cast<unsigned>(rng()));
            out.insert(out.end(), part.begin(), part.end());
            break;
        }
    }
    out.resize(size);
    return out;
}

const char* Name(Kind kind)
{
    static const char* const names[] = {"text",   "source", "records", "binary",
                                        "random", "zeros",  "mixed"};
    return names[static_cast<int>(kind)];
}

// Compresses with one thread, with pair buckets only and with the given threads and segment
// size, and expects the same bytes from each, in the same reads and writes.
void ExpectSameBytes(const Bytes& input, unsigned type, unsigned dictSize, unsigned threads,
                     unsigned segmentBlocks,
                     const std::function<void(codec::ImplodeWork&)>& prepare = {},
                     std::size_t piece = 0)
{
    const auto one = harness::Implode(input, type, dictSize, piece, prepare);
    const auto pairs = harness::Implode(input, type, dictSize, piece, prepare, true);
    const auto many =
        harness::ImplodeParallel(input, type, dictSize, threads, segmentBlocks, piece, prepare);
    ASSERT_EQ(many.code, CODEC_OK);
    ASSERT_TRUE(one.io.stream == pairs.io.stream) << "pair buckets differ";
    ASSERT_EQ(many.io.stream.size(), one.io.stream.size());
    ASSERT_TRUE(many.io.stream == one.io.stream) << "the threads wrote other bytes";
    EXPECT_EQ(many.io.writes, one.io.writes);
    EXPECT_EQ(many.io.asked, one.io.asked);
    EXPECT_EQ(many.io.given, one.io.given);
    EXPECT_FALSE(many.io.readAfterEnd);
}

class ImplodeParallelBytes : public ::testing::TestWithParam<std::tuple<unsigned, unsigned>> {};

// Sizes around block boundaries, segment boundaries of two- and three-block segments, and a
// last block of 4095 bytes, whose pair sort hashes the byte behind the window.
TEST_P(ImplodeParallelBytes, EveryKindAroundBlockAndSegmentBoundaries)
{
    const auto [type, dictSize] = GetParam();
    const std::size_t sizes[] = {0,
                                 1,
                                 kBlock - 1,
                                 kBlock,
                                 2 * kBlock - 1,
                                 2 * kBlock,
                                 2 * kBlock + 516,
                                 3 * kBlock - 1,
                                 3 * kBlock + 1,
                                 4 * kBlock,
                                 4 * kBlock + 4095,
                                 6 * kBlock + 1,
                                 9 * kBlock + 2000,
                                 13 * kBlock + 4095};
    for (Kind kind : {Kind::Text, Kind::Source, Kind::Records, Kind::Binary, Kind::Random,
                      Kind::Zeros, Kind::Mixed}) {
        const Bytes data = MakeData(kind, 13 * kBlock + 4095, 17);
        for (std::size_t size : sizes) {
            const Bytes input(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size));
            for (const auto& [threads, segmentBlocks] : {std::pair{2u, 2u}, std::pair{3u, 3u}}) {
                SCOPED_TRACE(std::string(Name(kind)) + ", size " + std::to_string(size) +
                             ", threads " + std::to_string(threads) + ", segments of " +
                             std::to_string(segmentBlocks));
                ExpectSameBytes(input, type, dictSize, threads, segmentBlocks);
            }
        }
    }
}

// Inputs of several default segments, and pieces of 333 bytes per read.
TEST_P(ImplodeParallelBytes, SeveralSegmentsOfTheDefaultSize)
{
    const auto [type, dictSize] = GetParam();
    const std::size_t size = 3 * IMPLODE_SEGMENT_BLOCKS * kBlock + 12345;
    for (Kind kind : {Kind::Mixed, Kind::Text}) {
        SCOPED_TRACE(Name(kind));
        ExpectSameBytes(MakeData(kind, size, 5), type, dictSize, 4, 0, {}, 333);
    }
}

INSTANTIATE_TEST_SUITE_P(CodingsAndSizes, ImplodeParallelBytes,
                         ::testing::Combine(::testing::Values(CODEC_BINARY, CODEC_ASCII),
                                            ::testing::Values(1024u, 2048u, 4096u)),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param) == CODEC_BINARY
                                                    ? "binary"
                                                    : "ascii") +
                                    std::to_string(std::get<1>(param.param));
                         });

// At the end of the input the search reads the window behind it: bytes of the block before
// (one block back in the input), for the smaller dictionaries bytes the call never writes,
// and the first sorted positions. The threads leave the caller's work area as one thread
// does before the last block.
TEST(ImplodeParallelEnd, ByteOneBlockBeforeTheEndDecidesAsWithOneThread)
{
    // Ends in 61 62 after two candidates of the pair: with 0x51 one block before the end, the
    // farther one compares three bytes before being cut back to 2.
    const Bytes tail = {0x61, 0x62, 0x51, 0x78, 0x79, 0x7A, 0x61,
                        0x62, 0x52, 0x75, 0x76, 0x77, 0x61, 0x62};
    Bytes streams[2];
    for (const std::uint8_t behind : {std::uint8_t{0x00}, std::uint8_t{0x51}}) {
        Bytes input = MakeData(Kind::Random, 7 * kBlock + 1000 - tail.size(), 3);
        input.insert(input.end(), tail.begin(), tail.end());
        input[input.size() - kBlock] = behind;
        SCOPED_TRACE("byte " + std::to_string(behind));
        ExpectSameBytes(input, CODEC_BINARY, 4096, 2, 2);
        streams[behind != 0] = harness::ImplodeParallel(input, CODEC_BINARY, 4096, 2, 2).io.stream;
    }
    EXPECT_TRUE(streams[0] != streams[1])
        << "the byte behind the input changed nothing: the case shows no dependence";
}

// A last block of 4095 bytes with the largest dictionary ends one byte before the window's
// end: the pair sort hashes the window's last byte and the first byte behind it, the low byte
// of the block before's first triple-sorted position, and a comparison running past the input
// reads the sorted positions. Here two candidates follow the input's last 8 bytes with 00
// (the byte one block back) and then 03 22 (the farther) or 03 23: which one wins depends on
// the sorted positions, so on the previous block's sort.
TEST(ImplodeParallelEnd, PreviousBlocksSortDecidesAsWithOneThread)
{
    const std::size_t size = 5 * kBlock + 4095;
    std::mt19937 rng(8);
    Bytes input(size);
    for (auto& b : input)
        b = static_cast<std::uint8_t>(1 + rng() % 255); // no zero byte, so no pair of hash 0
    const Bytes tail(input.end() - 8, input.end());
    const std::size_t far = size - 3000, near = size - 1000;
    std::copy(tail.begin(), tail.end(), input.begin() + static_cast<std::ptrdiff_t>(far));
    std::copy(tail.begin(), tail.end(), input.begin() + static_cast<std::ptrdiff_t>(near));
    for (const std::size_t at : {far, near}) {
        input[at + 8] = 0x00;
        input[at + 9] = 0x03;
    }
    input[far + 10] = 0x22;
    input[near + 10] = 0x23;
    input[size - kBlock] = 0x00;
    ExpectSameBytes(input, CODEC_BINARY, 4096, 2, 2);
}

TEST(ImplodeParallelEnd, WorkAreaOfOldBytesGivesTheBytesOfOneThread)
{
    for (const std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
        const auto prepare = [&](codec::ImplodeWork& w) { std::memset(&w, fill, sizeof w); };
        for (unsigned dictSize : {1024u, 2048u, 4096u}) {
            for (std::size_t size :
                 {std::size_t{0}, std::size_t{5000}, 4 * kBlock + 4095, 7 * kBlock + 3000}) {
                SCOPED_TRACE("fill " + std::to_string(fill) + ", dictionary " +
                             std::to_string(dictSize) + ", size " + std::to_string(size));
                ExpectSameBytes(MakeData(Kind::Text, size, 11), CODEC_BINARY, dictSize, 2, 2,
                                prepare);
            }
        }
    }
}

// Segments whose first block the join had to parse again, from a true start behind the one
// the worker assumed, are where a fault would show: the inputs above meet them.
TEST(ImplodeParallelJoin, SeamsAreParsedAgainAndStillDecode)
{
    struct Case {
        Kind kind;
        bool someParsedAgain; // the inputs' matches run past block limits
    };
    for (const Case c :
         {Case{Kind::Text, true}, Case{Kind::Zeros, true}, Case{Kind::Random, false}}) {
        SCOPED_TRACE(Name(c.kind));
        const Bytes input = MakeData(c.kind, 40 * kBlock + 77, 9);
        MemoryStreams io(input.data(), input.size());
        auto area = std::make_unique<CodecWorkArea>();
        const unsigned type = CODEC_BINARY;
        const unsigned dictSize = 4096;
        codec::ImplodeParallelStats stats;
        ASSERT_EQ(codec::ImplodeParallelWithStats(ReadMemory, WriteMemory, area->bytes, &io, &type,
                                                  &dictSize, 2, 4, &stats),
                  CODEC_OK);
        EXPECT_EQ(stats.segments, 10u);
        EXPECT_EQ(stats.seamsParsedAgain > 0, c.someParsedAgain);
        EXPECT_GE(stats.blocksParsedAgain, stats.seamsParsedAgain);
        unsigned result = 0;
        EXPECT_TRUE(harness::Explode(io.stream, result) == input);
        EXPECT_EQ(result, CODEC_OK);
        EXPECT_TRUE(io.stream == harness::Implode(input, type, dictSize).io.stream);
    }
}

TEST(ImplodeParallelParameters, RefusedLikeOneThreadWithoutCallbacks)
{
    struct Case {
        unsigned type, dictSize, expected;
    };
    const Bytes input = MakeData(Kind::Text, 20000, 1);
    for (const Case c : {Case{CODEC_BINARY, 3000, CODEC_BAD_DICT_SIZE},
                         Case{2, 3000, CODEC_BAD_DICT_SIZE}, Case{2, 4096, CODEC_BAD_TYPE}}) {
        const auto r = harness::ImplodeParallel(input, c.type, c.dictSize, 4, 2);
        EXPECT_EQ(r.code, c.expected);
        EXPECT_EQ(r.io.calls, 0);
    }
}

} // namespace
