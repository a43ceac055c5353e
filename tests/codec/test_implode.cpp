// The compressor: its exact bytes for known inputs, its read and write pattern, its
// parameter checks, and round trips (decoded by explode) over both literal
// codings, all dictionary sizes and the block boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/implode.h"
#include "implode_harness.h"
#include "token_reader.h"

namespace {

using harness::Bytes;
using tokens::Lit;
using tokens::Match;

Bytes Repeat(std::uint8_t b, std::size_t n)
{
    return Bytes(n, b);
}

// Mixed data that exercises every kind of token: text with repeated words, runs, random
// stretches, periodic patterns with periods of 1 to several hundred bytes, and copies from
// just within and just beyond each dictionary size.
Bytes MixedData(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    static const char* const words[] = {"the ",    "pack ",   "tool ",    "floppy ",
                                        "volume ", "header ", "implode ", "window ",
                                        "\r\n",    "of ",     "and ",     "0x1F, "};
    Bytes out;
    while (out.size() < size) {
        switch (rng() % 6) {
        case 0: // text
            for (int i = 0, n = static_cast<int>(rng() % 200); i < n; ++i) {
                const char* w = words[rng() % (sizeof words / sizeof words[0])];
                out.insert(out.end(), w, w + std::char_traits<char>::length(w));
            }
            break;
        case 1: // a run
            out.insert(out.end(), rng() % 1200, static_cast<std::uint8_t>(rng()));
            break;
        case 2: // random bytes
            for (int i = 0, n = static_cast<int>(rng() % 3000); i < n; ++i)
                out.push_back(static_cast<std::uint8_t>(rng()));
            break;
        case 3: { // a periodic pattern
            const std::size_t period = 1 + rng() % 600;
            Bytes unit;
            for (std::size_t i = 0; i < period; ++i)
                unit.push_back(static_cast<std::uint8_t>(rng()));
            for (std::size_t i = 0, n = rng() % 2000; i < n; ++i)
                out.push_back(unit[i % period]);
            break;
        }
        default: { // a copy from about one dictionary size back
            static const std::size_t distances[] = {255,  256,  257,  1023, 1024, 1025,
                                                    2047, 2048, 2049, 4095, 4096, 4097};
            const std::size_t distance = distances[rng() % 12];
            if (out.size() >= distance)
                for (std::size_t i = 0, n = 2 + rng() % 600; i < n; ++i)
                    out.push_back(out[out.size() - distance]);
            break;
        }
        }
    }
    out.resize(size);
    return out;
}

Bytes RandomData(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

std::string Hex(const Bytes& b)
{
    std::string s;
    char buf[4];
    for (std::uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    return s;
}

std::string Tokens(const std::vector<tokens::Token>& tokens)
{
    std::string s;
    for (const auto& t : tokens)
        s += tokens::ToString(t) + " ";
    return s;
}

// --- Exact streams -----------------------------------------------------------------------

struct GoldenCase {
    const char* label;
    Bytes input;
    unsigned type;
    unsigned dictSize;
    Bytes stream;
};

TEST(ImplodeGolden, KnownInputsGiveExactStreamsInOneWrite)
{
    const GoldenCase cases[] = {
        {"empty input: header and end code", {}, CODEC_BINARY, 4096, {0x00, 0x06, 0x01, 0xFF}},
        {"one byte, binary", {0x61}, CODEC_BINARY, 4096, {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01}},
        {"one byte, ascii", {0x61}, CODEC_ASCII, 4096, {0x01, 0x06, 0x4E, 0xC0, 0x3F}},
        {"ten equal bytes: no distance 1, match 8 at 2",
         Repeat(0x7A, 10),
         CODEC_BINARY,
         4096,
         {0x00, 0x06, 0xF4, 0xE8, 0xE5, 0x83, 0x80, 0x7F}},
        {"abc four times: match 9 at 3",
         {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63},
         CODEC_BINARY,
         4096,
         {0x00, 0x06, 0xC2, 0x88, 0x19, 0x4B, 0x17, 0x02, 0xFE, 0x01}},
        {"1200 equal bytes: farthest 516 wins, nearest at the end",
         Repeat(0x7A, 1200),
         CODEC_BINARY,
         4096,
         {0x00, 0x06, 0xF4, 0xE8, 0x05, 0xF0, 0x1F, 0x04, 0xF0, 0x7B, 0x45, 0xA0, 0xE7, 0x20, 0xE0,
          0x1F}},
        {"look-ahead and a last match of 2",
         {0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x78, 0x61, 0x62},
         CODEC_BINARY,
         4096,
         {0x00, 0x06, 0xC2, 0x88, 0xCD, 0x01, 0xBC, 0xDD, 0x80, 0x7F}},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.label);
        const auto r = harness::Implode(c.input, c.type, c.dictSize);
        EXPECT_EQ(r.code, CODEC_OK);
        EXPECT_EQ(Hex(r.io.stream), Hex(c.stream));
        EXPECT_EQ(r.io.writes, std::vector<unsigned>{static_cast<unsigned>(c.stream.size())});
        EXPECT_FALSE(r.io.readAfterEnd);
    }
}

TEST(ImplodeGolden, TokenChoices)
{
    struct Case {
        const char* label;
        Bytes input;
        std::vector<tokens::Token> tokens;
    };
    Bytes farPair = {0x01, 0x02};
    for (unsigned i = 0; i < 300; ++i) // distinct pairs, none of them 01 02
        farPair.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 0x10 + i / 2 % 200 : 0x80));
    farPair.push_back(0x01);
    farPair.push_back(0x02);
    std::vector<tokens::Token> farTokens;
    for (std::uint8_t b : farPair)
        farTokens.push_back(Lit(b));

    const Case cases[] = {
        {"1200 equal bytes",
         Repeat(0x7A, 1200),
         {Lit(0x7A), Lit(0x7A), Match(516, 2), Match(516, 518), Match(166, 2)}},
        {"look-ahead prefers the longer match one byte later",
         {0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x78, 0x61, 0x62},
         {Lit(0x61), Lit(0x62), Match(4, 2), Lit(0x78), Match(2, 3)}},
        {"a two-byte match farther back than 256 bytes is two literals", farPair, farTokens},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto r = harness::Implode(c.input, CODEC_BINARY, 4096);
        const auto d = tokens::Decode(r.io.stream);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(Tokens(d.tokens), Tokens(c.tokens));
        EXPECT_EQ(d.data, c.input);
    }
}

// At the end of the input the search compares bytes behind it; the window byte there decides
// between two candidates whose matches are both cut back to 2 bytes.
TEST(ImplodeGolden, ByteBehindTheInputDecidesBetweenCutBackMatches)
{
    const Bytes input = {0x61, 0x62, 0x51, 0x78, 0x79, 0x7A, 0x61,
                         0x62, 0x52, 0x75, 0x76, 0x77, 0x61, 0x62};
    const unsigned behind = codec::IMPLODE_LOOKAHEAD + 4096 + static_cast<unsigned>(input.size());
    struct Case {
        std::uint8_t byteBehind;
        unsigned lastDistance;
    };
    for (const Case c : {Case{0x00, 6}, Case{0x51, 12}}) {
        SCOPED_TRACE("window byte behind the input " + std::to_string(c.byteBehind));
        const auto r = harness::Implode(input, CODEC_BINARY, 4096, 0, [&](codec::ImplodeWork& w) {
            w.abWindow[behind] = c.byteBehind;
        });
        const auto d = tokens::Decode(r.io.stream);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.data, input);
        const std::vector<tokens::Token> expected = {
            Lit(0x61),   Lit(0x62), Lit(0x51), Lit(0x78), Lit(0x79), Lit(0x7A),
            Match(2, 6), Lit(0x52), Lit(0x75), Lit(0x76), Lit(0x77), Match(2, c.lastDistance)};
        EXPECT_EQ(Tokens(d.tokens), Tokens(expected));
    }
}

// --- Reads and writes --------------------------------------------------------------------

// Lengths of RandomData(n, 5) whose streams end exactly at a piece boundary (the end code
// fills the last byte of the fourth piece), and one byte before one (the padded end code is
// the last byte of the second piece). Found by trying lengths in order.
constexpr std::size_t kLastWriteEmptyLength = 5470;
constexpr std::size_t kLastWriteFullLength = 3644;

TEST(ImplodeStreaming, WritesAreWholePiecesThenOneLastWrite)
{
    struct Case {
        const char* label;
        Bytes input;
        unsigned lastWrite; // expected size of the last write
    };
    const Case cases[] = {
        {"end code completes a piece: last write empty", RandomData(kLastWriteEmptyLength, 5), 0},
        {"last write is a full piece", RandomData(kLastWriteFullLength, 5), 2048},
        {"several pieces and a short rest", MixedData(300000, 11), 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto r = harness::Implode(c.input, CODEC_BINARY, 4096);
        ASSERT_GE(r.io.writes.size(), 2u);
        for (std::size_t i = 0; i + 1 < r.io.writes.size(); ++i)
            ASSERT_EQ(r.io.writes[i], 2048u) << "write " << i;
        if (c.lastWrite != 0xFFFFFFFF)
            EXPECT_EQ(r.io.writes.back(), c.lastWrite);
        else
            EXPECT_LT(r.io.writes.back(), 2048u);
        const auto d = tokens::Decode(r.io.stream);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.data, c.input);
    }
}

TEST(ImplodeStreaming, SmallReadPiecesGiveTheSameStream)
{
    const Bytes input = MixedData(20000, 3);
    const auto whole = harness::Implode(input, CODEC_BINARY, 4096);
    for (std::size_t piece : {1u, 7u, 1000u, 4095u}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        const auto r = harness::Implode(input, CODEC_BINARY, 4096, piece);
        EXPECT_EQ(r.io.stream, whole.io.stream);
        EXPECT_EQ(r.io.writes, whole.io.writes);
        EXPECT_FALSE(r.io.readAfterEnd);
        // Each block asks for 4096 bytes, then for what is missing, until full or ended.
        unsigned have = 0;
        for (std::size_t i = 0; i < r.io.asked.size(); ++i) {
            ASSERT_EQ(r.io.asked[i], 4096 - have) << "read " << i;
            have = r.io.given[i] == 0 ? 0 : (have + r.io.given[i]) % 4096;
        }
    }
}

TEST(ImplodeStreaming, ExactlyOneBlockOfInput)
{
    const Bytes input = MixedData(4096, 8);
    const auto r = harness::Implode(input, CODEC_BINARY, 4096);
    EXPECT_EQ(r.io.asked, (std::vector<unsigned>{4096, 4096}));
    EXPECT_EQ(r.io.given, (std::vector<unsigned>{4096, 0}));
    const auto d = tokens::Decode(r.io.stream);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.data, input);
}

TEST(ImplodeParameters, BadSizeOrCodingIsRefusedWithoutCallbacks)
{
    struct Case {
        unsigned dictSize;
        unsigned type;
        unsigned expected;
    };
    const Case cases[] = {
        {3000, 2, CODEC_BAD_DICT_SIZE}, // the size is tested first
        {3000, CODEC_BINARY, CODEC_BAD_DICT_SIZE},
        {0, CODEC_BINARY, CODEC_BAD_DICT_SIZE},
        {8192, CODEC_ASCII, CODEC_BAD_DICT_SIZE},
        {4096, 2, CODEC_BAD_TYPE},
        {1024, 0xFFFFFFFF, CODEC_BAD_TYPE},
    };
    const Bytes input = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.dictSize) + " coding " + std::to_string(c.type));
        const auto r = harness::Implode(input, c.type, c.dictSize);
        EXPECT_EQ(r.code, c.expected);
        EXPECT_EQ(r.io.calls, 0);
    }
}

// --- Round trips -------------------------------------------------------------------------

// Decodes the stream, compares it with the input and checks the limits every match keeps.
void ExpectRoundTrip(const Bytes& input, unsigned type, unsigned dictSize, std::size_t piece = 0)
{
    const auto r = harness::Implode(input, type, dictSize, piece);
    ASSERT_EQ(r.code, CODEC_OK);
    // The real decompressor gives the bytes back; the empty input's 4-byte stream is the one
    // stream it refuses as too short.
    unsigned result = 0;
    const Bytes restored = harness::Explode(r.io.stream, result);
    ASSERT_EQ(result, input.empty() ? CODEC_TOO_SHORT : CODEC_OK);
    ASSERT_EQ(restored.size(), input.size());
    ASSERT_TRUE(restored == input) << "explode gives other bytes";
    const auto d = tokens::Decode(r.io.stream);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_TRUE(d.data == input) << "token reader gives other bytes";
    EXPECT_EQ(r.io.stream[0], type);
    EXPECT_EQ(r.io.stream[1], dictSize == 1024 ? 4 : dictSize == 2048 ? 5 : 6);
    // Nothing follows the end code but the zero bits that fill its byte.
    EXPECT_EQ(r.io.stream.size(), 2 + (d.bitsUsed + 7) / 8);
    for (const auto& t : d.tokens) {
        if (t.length == 0)
            continue;
        ASSERT_LE(t.length, codec::IMPLODE_MAX_MATCH);
        ASSERT_GE(t.distance, 2u);
        ASSERT_LE(t.distance, dictSize - 1);
        if (t.length == 2) {
            ASSERT_LE(t.distance, 256u);
        }
    }
}

class ImplodeRoundTrip : public ::testing::TestWithParam<std::tuple<unsigned, unsigned>> {};

TEST_P(ImplodeRoundTrip, AroundTheBlockBoundaries)
{
    const auto [type, dictSize] = GetParam();
    const Bytes data = MixedData(20000, 21);
    for (std::size_t size : {0u,    1u,    2u,    3u,     515u,   516u,   517u,   4095u,
                             4096u, 4097u, 4611u, 4612u,  4613u,  8191u,  8192u,  8193u,
                             8707u, 8708u, 8709u, 12287u, 12288u, 12289u, 12804u, 20000u}) {
        SCOPED_TRACE("size " + std::to_string(size));
        ExpectRoundTrip(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)), type,
                        dictSize);
    }
}

TEST_P(ImplodeRoundTrip, RunsRandomAndText)
{
    const auto [type, dictSize] = GetParam();
    ExpectRoundTrip(Repeat(0, 50000), type, dictSize);
    ExpectRoundTrip(RandomData(50000, 9), type, dictSize);
    Bytes text;
    for (int i = 0; text.size() < 60000; ++i) {
        const std::string line =
            "line " + std::to_string(i * 7919 % 1000) + ": the quick brown fox\r\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    ExpectRoundTrip(text, type, dictSize, 333);
}

TEST_P(ImplodeRoundTrip, SeveralMegabytes)
{
    const auto [type, dictSize] = GetParam();
    ExpectRoundTrip(MixedData(3 * 1024 * 1024 + 123, 77), type, dictSize);
}

INSTANTIATE_TEST_SUITE_P(CodingsAndSizes, ImplodeRoundTrip,
                         ::testing::Combine(::testing::Values(CODEC_BINARY, CODEC_ASCII),
                                            ::testing::Values(1024u, 2048u, 4096u)),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param) == CODEC_BINARY
                                                    ? "binary"
                                                    : "ascii") +
                                    std::to_string(std::get<1>(param.param));
                         });

// Most blocks are searched with triple buckets, the last with the pair buckets the Windows
// program uses; searching every block with pair buckets must give the very same bytes.
TEST(ImplodeBuckets, TripleBucketsGiveTheSameBytesAsPairBuckets)
{
    Bytes records; // fixed-size records: long zero runs, short repeats, rare pairs
    for (unsigned i = 0; records.size() < 200000; ++i) {
        const unsigned char rec[16] = {static_cast<unsigned char>(i),
                                       static_cast<unsigned char>(i >> 8),
                                       0,
                                       0,
                                       static_cast<unsigned char>(i * 7 % 50),
                                       0,
                                       'k',
                                       'e',
                                       'y',
                                       static_cast<unsigned char>('0' + i % 10)};
        records.insert(records.end(), rec, rec + 16);
        records.insert(records.end(), i % 5 * 3, 0);
    }
    Bytes alphabet(150000);
    std::mt19937 rng(4);
    for (auto& b : alphabet)
        b = static_cast<std::uint8_t>(rng() % 24);
    // Random bytes with copies of earlier stretches (3 to 40 bytes from up to 5000 back):
    // most searches find no triple, a few find matches, some just out of reach.
    Bytes sparse = RandomData(120000, 9);
    for (std::size_t at = 6000; at + 40 < sparse.size(); at += 200 + rng() % 900) {
        const std::size_t length = 3 + rng() % 38;
        const std::size_t back = 2 + rng() % 5000;
        std::copy_n(sparse.begin() + static_cast<std::ptrdiff_t>(at - back), length,
                    sparse.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // A block repeated with one byte changed in each copy: every search finds long matches,
    // in buckets of one entry per copy within reach. With 40-byte copies the rest of a bucket
    // behind the first long match is long (scanned with the border table), with 300-byte
    // copies it is short (measured candidate by candidate).
    const auto nearRepeats = [&rng](std::size_t period, std::size_t size) {
        const Bytes block = RandomData(period, static_cast<unsigned>(period));
        Bytes out;
        while (out.size() < size) {
            Bytes copy = block;
            copy[rng() % period] = static_cast<std::uint8_t>(rng());
            out.insert(out.end(), copy.begin(), copy.end());
        }
        return out;
    };
    const Bytes inputs[] = {MixedData(400000, 12),
                            records,
                            alphabet,
                            Repeat(0, 30000),
                            RandomData(30000, 2),
                            sparse,
                            nearRepeats(40, 60000),
                            nearRepeats(300, 60000)};
    for (unsigned dictSize : {1024u, 2048u, 4096u}) {
        for (unsigned type : {CODEC_BINARY, CODEC_ASCII}) {
            for (std::size_t i = 0; i < std::size(inputs); ++i) {
                SCOPED_TRACE("input " + std::to_string(i) + ", dictionary " +
                             std::to_string(dictSize) + ", coding " + std::to_string(type));
                const auto fast = harness::Implode(inputs[i], type, dictSize);
                const auto reference = harness::Implode(inputs[i], type, dictSize, 0, {}, true);
                ASSERT_EQ(fast.io.stream.size(), reference.io.stream.size());
                ASSERT_TRUE(fast.io.stream == reference.io.stream);
            }
        }
    }
}

// The work area is not cleared between calls: older bytes in the window may change the
// choice between candidates at the very end, never the decoded result.
TEST(ImplodeRoundTripReuse, ReusedWorkAreaStillDecodes)
{
    auto area = std::make_unique<CodecWorkArea>();
    for (unsigned run = 0; run < 4; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Bytes input = MixedData(9000 - run * 2000, 100 + run);
        const unsigned type = run % 2;
        const unsigned dictSize = 1024u << (run % 3);
        unsigned code = 0;
        const MemoryStreams io =
            ImplodeMemory(input.data(), input.size(), type, dictSize, area->bytes, &code);
        ASSERT_EQ(code, CODEC_OK);
        unsigned result = 0;
        EXPECT_EQ(harness::Explode(io.stream, result), input);
        EXPECT_EQ(result, CODEC_OK);
    }
}

// A work area full of old bytes: the search also reads bucket entries behind a bucket's end,
// which then hold any 16-bit value, and must neither read outside the area nor let them
// count. Inputs of several blocks give the bytes of a zeroed area.
TEST(ImplodeRoundTripReuse, WorkAreaOfOldBytesGivesTheSameStream)
{
    const Bytes inputs[] = {RandomData(30000, 3), MixedData(40000, 8)};
    for (const std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
        for (std::size_t i = 0; i < std::size(inputs); ++i) {
            SCOPED_TRACE("input " + std::to_string(i) + ", fill " + std::to_string(fill));
            const auto clean = harness::Implode(inputs[i], CODEC_BINARY, 4096);
            const auto dirty =
                harness::Implode(inputs[i], CODEC_BINARY, 4096, 0, [&](codec::ImplodeWork& w) {
                    std::memset(w.abWindow, fill, sizeof w.abWindow);
                    std::memset(w.awBucketStart, fill, sizeof w.awBucketStart);
                });
            ASSERT_TRUE(dirty.io.stream == clean.io.stream);
            unsigned result = 0;
            EXPECT_EQ(harness::Explode(dirty.io.stream, result), inputs[i]);
        }
    }
}

} // namespace
