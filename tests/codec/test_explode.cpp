// explode: header checks, the known streams, output pieces, the end of the stream and its
// truncation, input in pieces, and streams only another compressor would write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/explode.h"
#include "tests/codec/token_writer.h"
#include "tests/support/codecstreams.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A seeded generator of unsigned values.
struct Rng {
    std::mt19937 engine;
    explicit Rng(unsigned seed) : engine(seed) {}
    unsigned operator()() { return static_cast<unsigned>(engine()); }
};

struct ExplodeRun {
    unsigned result = 0;
    Bytes output;
    std::vector<unsigned> writeSizes;
    std::vector<unsigned> readRequests; // the size argument of each read call
};

ExplodeRun Explode(const Bytes& stream, std::vector<std::size_t> pieces = {}, void* work = nullptr)
{
    ExplodeRun run;
    auto own = std::make_unique<CodecWorkArea>();
    MemoryStreams io = ExplodeMemory(stream.data(), stream.size(), work ? work : own.get(),
                                     &run.result, std::move(pieces));
    run.output = Bytes(io.stream.begin(), io.stream.end());
    run.writeSizes = std::move(io.writes);
    run.readRequests = std::move(io.asked);
    return run;
}

Bytes Repeat(const std::string& s, std::size_t times)
{
    Bytes out;
    for (std::size_t i = 0; i < times; ++i)
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

// ---------------------------------------------------------------------------------------
// Header

TEST(ExplodeHeader, ChecksInOrderAndWritesNothingOnFailure)
{
    struct Case {
        const char* label;
        Bytes stream;
        unsigned expected;
    };
    const Case cases[] = {
        {"empty input", {}, CODEC_TOO_SHORT},
        {"four bytes: the compressor's empty stream", {0x00, 0x06, 0x01, 0xFF}, CODEC_TOO_SHORT},
        {"four bytes with a bad header", {0x07, 0x09, 0x01, 0xFF}, CODEC_TOO_SHORT},
        {"dictionary code 3, coding also wrong",
         {0x02, 0x03, 0x01, 0xFF, 0x00},
         CODEC_BAD_DICT_SIZE},
        {"dictionary code 7, coding also wrong",
         {0x09, 0x07, 0x01, 0xFF, 0x00},
         CODEC_BAD_DICT_SIZE},
        {"dictionary code 0", {0x00, 0x00, 0x01, 0xFF, 0x00}, CODEC_BAD_DICT_SIZE},
        {"dictionary code 255", {0x00, 0xFF, 0x01, 0xFF, 0x00}, CODEC_BAD_DICT_SIZE},
        {"coding 2", {0x02, 0x04, 0x01, 0xFF, 0x00}, CODEC_BAD_TYPE},
        {"coding 255", {0xFF, 0x06, 0x01, 0xFF, 0x00}, CODEC_BAD_TYPE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ExplodeRun run = Explode(c.stream);
        EXPECT_EQ(run.result, c.expected);
        EXPECT_TRUE(run.writeSizes.empty());
        EXPECT_EQ(run.readRequests, std::vector<unsigned>{2048});
    }
}

TEST(ExplodeHeader, TheFirstReadDecidesTooShortNotTheStreamLength)
{
    // The binary stream for "a" is 6 bytes. A first read of 4 of them is refused although
    // more would follow; a first read of 5 proceeds and reads the rest later.
    const Bytes stream = {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01};
    EXPECT_EQ(Explode(stream, {4, 2}).result, CODEC_TOO_SHORT);
    const ExplodeRun run = Explode(stream, {5, 1});
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, Bytes{'a'});
}

// ---------------------------------------------------------------------------------------
// Known streams: what the compressor writes for small inputs.

TEST(ExplodeStreams, CompressorStreamsDecodeToTheirInputs)
{
    struct Case {
        const char* label;
        Bytes stream;
        Bytes expected;
    };
    const Case cases[] = {
        {"one byte, binary", {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01}, {'a'}},
        {"one byte, ASCII (five bytes)", {0x01, 0x06, 0x4E, 0xC0, 0x3F}, {'a'}},
        {"ten equal bytes", {0x00, 0x06, 0xF4, 0xE8, 0xE5, 0x83, 0x80, 0x7F}, Bytes(10, 0x7A)},
        {"abc four times",
         {0x00, 0x06, 0xC2, 0x88, 0x19, 0x4B, 0x17, 0x02, 0xFE, 0x01},
         Repeat("abc", 4)},
        {"1200 equal bytes",
         {0x00, 0x06, 0xF4, 0xE8, 0x05, 0xF0, 0x1F, 0x04, 0xF0, 0x7B, 0x45, 0xA0, 0xE7, 0x20, 0xE0,
          0x1F},
         Bytes(1200, 0x7A)},
        {"two-byte match",
         {0x00, 0x06, 0xC2, 0x88, 0xCD, 0x01, 0xBC, 0xDD, 0x80, 0x7F},
         {0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x78, 0x61, 0x62}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ExplodeRun run = Explode(c.stream);
        EXPECT_EQ(run.result, CODEC_OK);
        EXPECT_EQ(run.output, c.expected);
        EXPECT_EQ(run.writeSizes, std::vector<unsigned>{static_cast<unsigned>(c.expected.size())});
    }
}

TEST(ExplodeStreams, TheLastTwoByteMatchMayReachEitherCandidate)
{
    // 61 62 51 78 79 7A 61 62 52 75 76 77 61 62: the compressor ends with a two-byte match
    // at distance 6 or 12, depending on bytes behind the input; both decode the same.
    const Bytes input = {0x61, 0x62, 0x51, 0x78, 0x79, 0x7A, 0x61,
                         0x62, 0x52, 0x75, 0x76, 0x77, 0x61, 0x62};
    for (unsigned lastDistance : {6u, 12u}) {
        TokenWriter w(CODEC_BINARY, 4096);
        w.Literals(Bytes(input.begin(), input.begin() + 6)).Match(2, 6);
        w.Literals(Bytes(input.begin() + 8, input.begin() + 12)).Match(2, lastDistance).End();
        ASSERT_EQ(w.Expected(), input);
        const ExplodeRun run = Explode(w.Stream());
        EXPECT_EQ(run.result, CODEC_OK);
        EXPECT_EQ(run.output, input);
    }
}

// ---------------------------------------------------------------------------------------
// Output pieces and reads

// 9000 bytes of text-like output from literals and matches of every reach.
TokenWriter NineThousandBytes(unsigned type = CODEC_BINARY, unsigned dictSize = 4096)
{
    TokenWriter w(type, dictSize);
    Rng rng(9000);
    w.Literals(std::string("The quick brown fox jumps over the lazy dog. "));
    while (w.Expected().size() < 9000) {
        const std::size_t left = 9000 - w.Expected().size();
        if (left < 3 || rng() % 3 == 0) {
            w.Literal(static_cast<unsigned char>('a' + rng() % 26));
        } else {
            const unsigned length =
                static_cast<unsigned>(std::min<std::size_t>(left, 3 + rng() % 60));
            const unsigned reach =
                static_cast<unsigned>(std::min<std::size_t>(w.Expected().size(), dictSize));
            w.Match(length, 1 + static_cast<unsigned>(rng() % reach));
        }
    }
    w.End();
    return w;
}

// Mostly long runs of binary literals, as incompressible data gives, with a match now and
// then: 20000 bytes.
TokenWriter LiteralRuns()
{
    TokenWriter w(CODEC_BINARY, 4096);
    Rng rng(77);
    while (w.Expected().size() < 20000) {
        const unsigned run = rng() % 200;
        for (unsigned i = 0; i < run; ++i)
            w.Literal(static_cast<unsigned char>(rng()));
        w.Match(3 + rng() % 20, 1 + rng() % static_cast<unsigned>(
                                                std::min<std::size_t>(w.Expected().size(), 4096)));
    }
    return w.End();
}

TEST(ExplodeOutput, WritesWholePiecesThenTheRest)
{
    const TokenWriter w = NineThousandBytes();
    const ExplodeRun run = Explode(w.Stream());
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, w.Expected());
    EXPECT_EQ(run.writeSizes, (std::vector<unsigned>{4096, 4096, 808}));
    // Every read asks for 2048 bytes; one more read finds the end behind the end code.
    const auto reads = (w.Stream().size() + 2047) / 2048 + 1;
    EXPECT_EQ(run.readRequests, std::vector<unsigned>(reads, 2048));
}

TEST(ExplodeOutput, AnOutputOfWholePiecesEndsWithAnEmptyWrite)
{
    TokenWriter w(CODEC_BINARY, 4096);
    w.Literal('x');
    while (w.Expected().size() < 8192)
        w.Match(static_cast<unsigned>(std::min<std::size_t>(518, 8192 - w.Expected().size())), 1);
    w.End();
    ASSERT_EQ(w.Expected().size(), 8192u);
    const ExplodeRun run = Explode(w.Stream());
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, w.Expected());
    EXPECT_EQ(run.writeSizes, (std::vector<unsigned>{4096, 4096, 0}));
}

TEST(ExplodeOutput, MatchesOverrunningAPieceCarryOverIntact)
{
    // Long matches of every distance class that cross the 4096-byte boundaries, with
    // distances reaching over the moved history.
    TokenWriter w(CODEC_BINARY, 4096);
    Rng rng(518);
    for (int i = 0; i < 300; ++i)
        w.Literal(static_cast<unsigned char>(rng()));
    while (w.Expected().size() < 30000)
        w.Match(480 + rng() % 39, 1 + rng() % static_cast<unsigned>(std::min<std::size_t>(
                                                  w.Expected().size(), 4096)));
    w.End();
    const ExplodeRun run = Explode(w.Stream());
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, w.Expected());
}

// ---------------------------------------------------------------------------------------
// End of the stream

TEST(ExplodeEnd, StreamEndingBehindTheEndCodeOrWithBytesAfterItIsComplete)
{
    const TokenWriter w = NineThousandBytes();
    Bytes stream = w.Stream();
    EXPECT_EQ(Explode(stream).result, CODEC_OK);
    stream.insert(stream.end(), {0x12, 0x34, 0x56});
    const ExplodeRun run = Explode(stream);
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, w.Expected());
}

TEST(ExplodeEnd, StreamMissingItsLastByteWritesEveryTokenBeforeTheEndCode)
{
    const Bytes abc = {0x00, 0x06, 0xC2, 0x88, 0x19, 0x4B, 0x17, 0x02, 0xFE, 0x01};
    struct Case {
        const char* label;
        Bytes stream;
        Bytes expected;
    };
    const TokenWriter nine = NineThousandBytes();
    const TokenWriter asciiNine = NineThousandBytes(CODEC_ASCII, 1024);
    const TokenWriter runs = LiteralRuns();
    const Case cases[] = {
        {"abc four times", abc, Repeat("abc", 4)},
        {"ten equal bytes", {0x00, 0x06, 0xF4, 0xE8, 0xE5, 0x83, 0x80, 0x7F}, Bytes(10, 0x7A)},
        {"9000 bytes, binary", nine.Stream(), nine.Expected()},
        {"9000 bytes, ASCII, 1024", asciiNine.Stream(), asciiNine.Expected()},
        {"long literal runs", runs.Stream(), runs.Expected()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes cut(c.stream.begin(), c.stream.end() - 1);
        const ExplodeRun run = Explode(cut);
        EXPECT_EQ(run.result, CODEC_STREAM_ENDED);
        EXPECT_EQ(run.output, c.expected);
    }
}

TEST(ExplodeEnd, EveryShorterCutEndsEarlyWithAPrefixOfTheOutput)
{
    for (unsigned type : {CODEC_BINARY, CODEC_ASCII}) {
        const TokenWriter w = NineThousandBytes(type, 2048);
        const Bytes& stream = w.Stream();
        for (std::size_t size = 5; size < stream.size(); size += 1 + size / 64) {
            const ExplodeRun run =
                Explode(Bytes(stream.begin(), stream.begin() + static_cast<long>(size)));
            ASSERT_EQ(run.result, CODEC_STREAM_ENDED) << size;
            ASSERT_LE(run.output.size(), w.Expected().size());
            ASSERT_TRUE(std::equal(run.output.begin(), run.output.end(), w.Expected().begin()))
                << size;
            ASSERT_FALSE(run.writeSizes.empty());
            EXPECT_LT(run.writeSizes.back(), 4096u);
        }
    }
}

TEST(ExplodeEnd, ALiteralNeedsTheEightBitsBehindIt)
{
    // The decoder looks 8 bits ahead of every token. A binary literal cut off right behind
    // its own bits is not written; the same literal with one more byte is.
    TokenWriter w(CODEC_BINARY, 4096);
    w.Literals(std::string("abcdefgh")); // 2 + 9 bytes of stream, literal h ends at bit 72
    const Bytes full = w.End().Stream();
    const ExplodeRun cutBehindH = Explode(Bytes(full.begin(), full.begin() + 11));
    EXPECT_EQ(cutBehindH.result, CODEC_STREAM_ENDED);
    EXPECT_EQ(cutBehindH.output, (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g'}));
    EXPECT_EQ(Explode(Bytes(full.begin(), full.begin() + 12)).output,
              (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}));
}

// ---------------------------------------------------------------------------------------
// Input in pieces

TEST(ExplodeInput, PiecesOfAnySizeGiveTheSameOutput)
{
    const std::vector<std::vector<std::size_t>> pieceSizes = {
        {5, 1},  {5, 2},   {6, 3},    {5, 7},       {8, 8},
        {9, 13}, {17, 31}, {2047, 1}, {2048, 2047}, {100, 2048, 1, 1000},
    };
    for (const TokenWriter& w : {NineThousandBytes(CODEC_ASCII, 4096), LiteralRuns()}) {
        const ExplodeRun whole = Explode(w.Stream());
        EXPECT_EQ(whole.result, CODEC_OK);
        EXPECT_EQ(whole.output, w.Expected());
        for (const auto& pieces : pieceSizes) {
            SCOPED_TRACE(::testing::PrintToString(pieces));
            const ExplodeRun run = Explode(w.Stream(), pieces);
            EXPECT_EQ(run.result, CODEC_OK);
            EXPECT_EQ(run.output, w.Expected());
            EXPECT_EQ(run.writeSizes, whole.writeSizes);
        }
    }
}

unsigned ReadTooMuch(unsigned char* buf, unsigned* size, void* param)
{
    // Fills what was asked and claims far more.
    auto& calls = *static_cast<int*>(param);
    if (calls++ > 0)
        return 0;
    std::memset(buf, 0, *size);
    buf[0] = CODEC_BINARY;
    buf[1] = 6;
    return 1u << 30;
}

void IgnoreWrite(unsigned char*, unsigned*, void*) {}

TEST(ExplodeInput, AReadClaimingMoreThanAskedIsCutToTheBuffer)
{
    // 2046 zero bytes of bit stream are binary literals of 0x00; the stream then ends
    // without an end code.
    auto work = std::make_unique<CodecWorkArea>();
    int calls = 0;
    EXPECT_EQ(explode(ReadTooMuch, IgnoreWrite, work.get(), &calls), CODEC_STREAM_ENDED);
    EXPECT_EQ(calls, 2);
}

// ---------------------------------------------------------------------------------------
// Streams the compressor never writes

struct TokenCase {
    const char* label;
    unsigned type;
    unsigned dictSize;
    void (*build)(TokenWriter&);
};

const TokenCase kTokenCases[] = {
    {"distance-1 runs of every length", CODEC_BINARY, 4096,
     [](TokenWriter& w) {
         w.Literal('r');
         for (unsigned length = 2; length <= 518; length += 17)
             w.Match(length, 1).Literal(static_cast<unsigned char>(length));
     }},
    {"a 518-byte match", CODEC_BINARY, 4096,
     [](TokenWriter& w) {
         w.Literals(std::string("0123456789abcdef")).Match(518, 16).Match(518, 517);
     }},
    {"every length of every class", CODEC_BINARY, 4096,
     [](TokenWriter& w) {
         w.Literals(std::string("every length, from two to five hundred and eighteen"));
         for (unsigned length = 2; length <= 518; ++length)
             w.Match(length, length == 2 ? 1 + length % 40 : 1 + length % 50).Literal('.');
     }},
    {"ASCII literals of every byte value", CODEC_ASCII, 4096,
     [](TokenWriter& w) {
         for (unsigned b = 0; b < 256; ++b)
             w.Literal(static_cast<unsigned char>(b));
         for (unsigned b = 256; b-- > 0;)
             w.Literal(static_cast<unsigned char>(b)).Match(3, 1 + b % 200);
     }},
    {"binary literals of every byte value", CODEC_BINARY, 2048,
     [](TokenWriter& w) {
         for (unsigned b = 0; b < 256; ++b)
             w.Literal(static_cast<unsigned char>(255 - b));
     }},
    {"two-byte matches of every distance", CODEC_ASCII, 1024,
     [](TokenWriter& w) {
         for (unsigned i = 0; i < 300; ++i)
             w.Literal(static_cast<unsigned char>(i * 7));
         for (unsigned d = 1; d <= 256; ++d)
             w.Match(2, d);
     }},
    {"dictionary 1024 at full reach", CODEC_BINARY, 1024,
     [](TokenWriter& w) {
         for (unsigned i = 0; i < 1100; ++i)
             w.Literal(static_cast<unsigned char>(i * 13));
         for (unsigned d = 1024; d > 61; d -= 61)
             w.Match(3 + d % 100, d);
     }},
    {"dictionary 2048 at full reach", CODEC_ASCII, 2048,
     [](TokenWriter& w) {
         for (unsigned i = 0; i < 2100; ++i)
             w.Literal(static_cast<unsigned char>('a' + i % 23));
         for (unsigned d = 2048; d > 97; d -= 97)
             w.Match(3 + d % 200, d);
     }},
    {"dictionary 4096 at full reach, across pieces", CODEC_BINARY, 4096,
     [](TokenWriter& w) {
         for (unsigned i = 0; i < 4200; ++i)
             w.Literal(static_cast<unsigned char>(i ^ (i >> 8)));
         for (unsigned d = 4096; d > 129; d -= 129)
             w.Match(3 + d % 500, d);
     }},
};

TEST(ExplodeTokens, StreamsOfEveryTokenKindDecode)
{
    for (const auto& c : kTokenCases) {
        SCOPED_TRACE(c.label);
        TokenWriter w(c.type, c.dictSize);
        c.build(w);
        w.End();
        const ExplodeRun run = Explode(w.Stream());
        EXPECT_EQ(run.result, CODEC_OK);
        EXPECT_EQ(run.output, w.Expected());
        // Cut short by one byte, everything before the end code is still there.
        const Bytes stream = w.Stream();
        const Bytes cut(stream.begin(), stream.end() - 1);
        const ExplodeRun cutRun = Explode(cut, {7, 3});
        EXPECT_EQ(cutRun.result, CODEC_STREAM_ENDED);
        EXPECT_EQ(cutRun.output, w.Expected());
    }
}

TEST(ExplodeTokens, RandomTokenStreamsInRandomPieces)
{
    Rng rng(2024);
    for (int round = 0; round < 60; ++round) {
        const unsigned type = round % 2;
        const unsigned dictSize = 1024u << (round % 3);
        TokenWriter w(type, dictSize);
        const std::size_t target = 1 + rng() % 20000;
        while (w.Expected().size() < target) {
            const std::size_t have = w.Expected().size();
            if (have == 0 || rng() % 2 == 0) {
                w.Literal(static_cast<unsigned char>(rng() % 4 == 0 ? rng() : 'a' + rng() % 8));
            } else if (rng() % 4 == 0) {
                w.Match(2, 1 + rng() % 256);
            } else {
                w.Match(3 + rng() % 516, 1 + rng() % dictSize);
            }
        }
        w.End();
        SCOPED_TRACE(round);
        const ExplodeRun run = Explode(w.Stream(), {5 + rng() % 2044, 1 + rng() % 2048});
        ASSERT_EQ(run.result, CODEC_OK);
        ASSERT_EQ(run.output, w.Expected());
    }
}

// Binary literals are taken sixteen at a time (two groups of eight) straight from the input
// buffer; a match flag or the end code may come at any literal of a group, and a group may
// start at any bit of a byte. L1 literals before the first match set the bit offset of the
// run behind it (9 bits a literal); the L2 literals of that run put the next match at every
// place of a pair of groups, and L2 more literals put the end code there.
TEST(ExplodeTokens, MatchFlagsAndTheEndCodeAtEveryPlaceOfALiteralGroup)
{
    Rng rng(16);
    for (const unsigned dictSize : {1024u, 4096u}) {
        for (unsigned l1 = 0; l1 < 8; ++l1) {
            for (unsigned l2 = 0; l2 <= 34; ++l2) {
                TokenWriter w(CODEC_BINARY, dictSize);
                for (unsigned i = 0; i < 40 + l1; ++i)
                    w.Literal(static_cast<unsigned char>(rng()));
                w.Match(3 + rng() % 30, 1 + rng() % 40);
                for (unsigned i = 0; i < l2; ++i)
                    w.Literal(static_cast<unsigned char>(rng()));
                w.Match(l2 % 2 == 0 ? 2 : 300, 1 + rng() % 40);
                for (unsigned i = 0; i < l2; ++i)
                    w.Literal(static_cast<unsigned char>(rng()));
                w.End();
                SCOPED_TRACE(::testing::Message() << dictSize << " " << l1 << " " << l2);
                const ExplodeRun whole = Explode(w.Stream());
                ASSERT_EQ(whole.result, CODEC_OK);
                ASSERT_EQ(whole.output, w.Expected());
                // With the stream's last byte missing, everything before the end code is there.
                const Bytes stream = w.Stream();
                const ExplodeRun cut = Explode(Bytes(stream.begin(), stream.end() - 1));
                ASSERT_EQ(cut.result, CODEC_STREAM_ENDED);
                ASSERT_EQ(cut.output, w.Expected());
            }
        }
    }
}

// A run of literals fills several pieces between two moves of the history: each is still
// written whole as soon as it is full, and matches reach back over the move.
TEST(ExplodeOutput, LongLiteralRunsAreWrittenInWholePieces)
{
    TokenWriter w(CODEC_BINARY, 4096);
    Rng rng(4096);
    while (w.Expected().size() < 50000) {
        for (unsigned i = 0; i < 3000; ++i)
            w.Literal(static_cast<unsigned char>(rng()));
        w.Match(518, 4096);
    }
    w.End();
    const std::size_t size = w.Expected().size();
    std::vector<unsigned> writes(size / 4096, 4096);
    writes.push_back(static_cast<unsigned>(size % 4096));
    for (const std::vector<std::size_t>& pieces : {std::vector<std::size_t>{}, {100, 37}}) {
        const ExplodeRun run = Explode(w.Stream(), pieces);
        EXPECT_EQ(run.result, CODEC_OK);
        EXPECT_EQ(run.output, w.Expected());
        EXPECT_EQ(run.writeSizes, writes);
    }
}

// ---------------------------------------------------------------------------------------
// Round trips through the compressor

Bytes Implode(const Bytes& data, unsigned type, unsigned dictSize)
{
    auto work = std::make_unique<CodecWorkArea>();
    unsigned result = 0;
    const MemoryStreams io =
        ImplodeMemory(data.data(), data.size(), type, dictSize, work.get(), &result);
    EXPECT_EQ(result, CODEC_OK);
    return Bytes(io.stream.begin(), io.stream.end());
}

TEST(ExplodeRoundTrip, CompressorStreamsOfBothCodingsAndEveryDictionaryComeBack)
{
    Rng rng(4096);
    Bytes text;
    while (text.size() < 70000) {
        static const char* const words[] = {"pack ", "tool ", "project ", "volume ",
                                            "disk ", "\r\n",  "0KX ",     "file "};
        const std::string word = words[rng() % 8];
        text.insert(text.end(), word.begin(), word.end());
    }
    Bytes noise(10000);
    for (auto& b : noise)
        b = static_cast<unsigned char>(rng());
    Bytes records;
    for (unsigned i = 0; records.size() < 40000; ++i) {
        const unsigned char record[16] = {static_cast<unsigned char>(i),
                                          static_cast<unsigned char>(i >> 8),
                                          0,
                                          0,
                                          'n',
                                          'a',
                                          'm',
                                          'e',
                                          static_cast<unsigned char>('0' + i % 10)};
        records.insert(records.end(), record, record + sizeof record);
    }
    struct Case {
        const char* label;
        Bytes input;
    };
    const Case cases[] = {
        {"one byte", {0x61}},
        {"ten equal bytes", Bytes(10, 0x7A)},
        {"abc four times", Repeat("abc", 4)},
        {"1200 equal bytes", Bytes(1200, 0x7A)},
        {"two-byte matches",
         {0x61, 0x62, 0x51, 0x78, 0x79, 0x7A, 0x61, 0x62, 0x52, 0x75, 0x76, 0x77, 0x61, 0x62}},
        {"exactly one block", Bytes(text.begin(), text.begin() + 4096)},
        {"one block and the look-ahead", Bytes(text.begin(), text.begin() + 4096 + 516)},
        {"one block and a byte", Bytes(text.begin(), text.begin() + 4097)},
        {"text", text},
        {"noise", noise},
        {"records", records},
    };
    for (const auto& c : cases) {
        for (unsigned type : {CODEC_BINARY, CODEC_ASCII}) {
            for (unsigned dictSize : {1024u, 2048u, 4096u}) {
                SCOPED_TRACE(std::string(c.label) +
                             (type == CODEC_ASCII ? ", ASCII, " : ", binary, ") +
                             std::to_string(dictSize));
                const Bytes stream = Implode(c.input, type, dictSize);
                const ExplodeRun run = Explode(stream, {5 + rng() % 2044, 1 + rng() % 2048});
                EXPECT_EQ(run.result, CODEC_OK);
                EXPECT_EQ(run.output, c.input);
            }
        }
    }
}

TEST(ExplodeEnd, TheEndCodesLastBitIsReportedWhereverTheInputEnds)
{
    // A stream ending in every bit position of its last byte, in both codings.
    std::vector<TokenWriter> writers = {NineThousandBytes(), NineThousandBytes(CODEC_ASCII, 1024),
                                        LiteralRuns()};
    for (unsigned i = 0; i < 8; ++i) {
        TokenWriter w(CODEC_BINARY, 2048);
        w.Literals(std::string("ab"));
        for (unsigned j = 0; j < i; ++j)
            w.Match(2, 1);
        writers.push_back(w.End());
    }
    const std::vector<std::vector<std::size_t>> pieceSizes = {{}, {5, 1}, {2047, 1}};
    const Bytes junk = {0xFF, 0xFF, 0xFF};
    for (const TokenWriter& w : writers) {
        Bytes stream = w.Stream();
        const std::size_t bytes = stream.size();
        for (std::size_t behind : {std::size_t{0}, std::size_t{1}, std::size_t{3000}}) {
            stream.resize(bytes);
            for (std::size_t k = 0; k < behind; ++k)
                stream.push_back(junk[k % junk.size()]);
            for (const auto& pieces : pieceSizes) {
                SCOPED_TRACE(::testing::Message()
                             << w.BitCount() << " bits, " << behind << " behind, " << pieces.size()
                             << " piece sizes");
                auto work = std::make_unique<CodecWorkArea>();
                const ExplodeRun run = Explode(stream, pieces, work.get());
                ASSERT_EQ(run.result, CODEC_OK);
                EXPECT_EQ(ExplodeEndCodeBits(work.get()), w.BitCount());
            }
        }
    }
    // The compressor's streams end in the byte that holds the end code's last bit.
    const Bytes text = Repeat("packed volumes of a project file, ", 3000);
    for (unsigned type : {CODEC_BINARY, CODEC_ASCII}) {
        const Bytes stream = Implode(text, type, 4096);
        auto work = std::make_unique<CodecWorkArea>();
        ASSERT_EQ(Explode(stream, {}, work.get()).result, CODEC_OK);
        EXPECT_EQ((ExplodeEndCodeBits(work.get()) + 7) / 8, stream.size());
    }
}

TEST(ExplodeRoundTrip, AnEmptyInputsStreamIsRefusedAsTooShort)
{
    const Bytes stream = Implode({}, CODEC_BINARY, 4096);
    EXPECT_EQ(stream, (Bytes{0x00, 0x06, 0x01, 0xFF}));
    const ExplodeRun run = Explode(stream);
    EXPECT_EQ(run.result, CODEC_TOO_SHORT);
    EXPECT_TRUE(run.writeSizes.empty());
}

// ---------------------------------------------------------------------------------------
// The work area

TEST(ExplodeWorkArea, ReachingBeforeTheFirstByteFindsZerosNotAnEarlierJob)
{
    auto work = std::make_unique<CodecWorkArea>();
    // An earlier job leaves its bytes all over the shared area.
    std::memset(work->bytes, 0xAA, sizeof work->bytes);
    const TokenWriter earlier = NineThousandBytes();
    ASSERT_EQ(Explode(earlier.Stream(), {}, work.get()).result, CODEC_OK);

    // A damaged stream: one literal, then matches reaching 100 and 4096 bytes back.
    TokenWriter w(CODEC_BINARY, 4096);
    w.Literal('a').Match(10, 100).Match(20, 4096).Match(2, 256).End();
    const ExplodeRun run = Explode(w.Stream(), {}, work.get());
    EXPECT_EQ(run.result, CODEC_OK);
    Bytes expected = {'a'};
    expected.resize(1 + 10 + 20 + 2, 0);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(w.Expected(), expected);
}

TEST(ExplodeWorkArea, FitsTheProgramsCodecArea)
{
    static_assert(EXPLODE_WORK_SIZE >= 12596 && EXPLODE_WORK_SIZE <= CODEC_WORK_SIZE);
    // A work area of exactly EXPLODE_WORK_SIZE bytes is enough (the sanitizers watch).
    auto work = std::make_unique<ExplodeWork>();
    const TokenWriter w = NineThousandBytes(CODEC_ASCII, 4096);
    const ExplodeRun run = Explode(w.Stream(), {}, work.get());
    EXPECT_EQ(run.result, CODEC_OK);
    EXPECT_EQ(run.output, w.Expected());
}

} // namespace
