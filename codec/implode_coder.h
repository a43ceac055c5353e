// Token choice of the compressor, shared by the single-threaded driver (implode.cpp) and the
// parallel one (implode_parallel.cpp), so that both make every choice with the same code.
//
// ImplodeTokenCoder codes the tokens of one block of the window into a bit sink: anything with
// Put(value, bits), bits at most 32, value without bits above them, and optionally
// Mark(position), told where each token starts. The drivers hand it the output bit writer or
// the buffer of a segment's bits.
//
// What a block's tokens depend on. A search at p (implode_match.h) looks at the window bytes
// from p - (D - 1) to p + IMPLODE_MAX_MATCH and at the positions of the block's sort range.
// The token at p follows from the searches at p and p + 1, the block's limit and whether the
// input ends in the block. So the tokens from any position of a block on are fixed by that
// position; in particular once two parses of a block meet at one position they agree from
// there to the block's end, and, since the next block starts where the cursor stopped, in
// every later block. What crosses from one block to the next (see Window and ImplodeSortFirst):
//   - the cursor: the last match of a block may run past its limit, up to
//     IMPLODE_MAX_MATCH - 1 bytes, so the next block starts 0 to 515 bytes behind its own
//     first byte;
//   - the start of the sort range, cursor - D, which follows the cursor. For every block but
//     the first two no candidate in reach lies before it (candidates start at p - (D - 1) and
//     p is at least the cursor), so it changes no search;
//   - the first block sorts from the cursor (nothing lies before the input), and the second,
//     with the largest dictionary, from cursor - D + IMPLODE_LOOKAHEAD: there the start does
//     exclude candidates in reach, those behind the first block's overrun, so the second
//     block's searches depend on where the first block stopped;
//   - the last block (the one in which the input ends) codes to the end of the input, and a
//     comparison there may read window bytes behind the input: bytes of the block before it,
//     for smaller dictionaries bytes the call never wrote, and the first sorted positions
//     behind the window. Its pair sort hashes the byte behind its limit, which can be the
//     low byte of the previous block's first sorted position.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "codec/implode.h"
#include "codec/implode_match.h"
#include "codec/tables.h"

namespace codec {

// The shortest match that is taken without looking one byte ahead.
constexpr unsigned IMPLODE_SURE_MATCH = 8;
// A one-byte-longer match at the next position does not beat a match this close
// (distance - 1 at most this).
constexpr unsigned IMPLODE_NEAR_DIST1 = 128;

// Total bits and value (least significant bit first, flag bit included) of every symbol:
// the literals of one coding, then the lengths 2 to 519 class by class.
struct ImplodeSymbolTable {
    std::uint8_t bits[IMPLODE_SYMBOLS];
    std::uint16_t codes[IMPLODE_SYMBOLS];
};

constexpr ImplodeSymbolTable BuildImplodeSymbols(bool ascii)
{
    ImplodeSymbolTable t{};
    for (unsigned b = 0; b < 256; ++b) {
        t.bits[b] = static_cast<std::uint8_t>(ascii ? kAsciiBits[b] + 1 : 9);
        t.codes[b] = static_cast<std::uint16_t>((ascii ? kAsciiCodes[b] : b) << 1);
    }
    unsigned symbol = 256;
    for (unsigned c = 0; c < LENGTH_CLASSES; ++c) {
        const unsigned codeBits = kLenBits[c];
        const unsigned extraBits = kLenExtraBits[c];
        for (unsigned extra = 0; extra < (1u << extraBits); ++extra, ++symbol) {
            t.bits[symbol] = static_cast<std::uint8_t>(1 + codeBits + extraBits);
            t.codes[symbol] =
                static_cast<std::uint16_t>(1u + (kLenCodes[c] << 1) + (extra << (codeBits + 1)));
        }
    }
    return t;
}

inline constexpr ImplodeSymbolTable kImplodeBinarySymbols = BuildImplodeSymbols(false);
inline constexpr ImplodeSymbolTable kImplodeAsciiSymbols = BuildImplodeSymbols(true);
static_assert(kImplodeBinarySymbols.codes[IMPLODE_END_SYMBOL] == 0xFF01 &&
                  kImplodeBinarySymbols.bits[IMPLODE_END_SYMBOL] == 16,
              "the end code is length 519: class 15 with extra value 255");

// The most bits one token takes: a length symbol of 16 bits, a distance code of 8 and 6 low
// bits. No token takes more than 15 bits per byte it covers (a literal at most 14).
constexpr unsigned IMPLODE_MAX_TOKEN_BITS = 30;

// Checks the parameters (the dictionary size first) and stores them, with k and its mask, in
// the work area. Returns CODEC_OK, CODEC_BAD_DICT_SIZE or CODEC_BAD_TYPE.
inline unsigned ImplodeSetUp(ImplodeWork& work, unsigned type, unsigned dictSize)
{
    switch (dictSize) {
    case 1024: work.nDictBits = 4; break;
    case 2048: work.nDictBits = 5; break;
    case 4096: work.nDictBits = 6; break;
    default: return CODEC_BAD_DICT_SIZE;
    }
    if (type != CODEC_BINARY && type != CODEC_ASCII)
        return CODEC_BAD_TYPE;
    work.nDictMask = (1u << work.nDictBits) - 1;
    work.nDictSize = dictSize;
    work.nType = type;
    return CODEC_OK;
}

// The first position of a block's sort range, for the block's starting cursor (window
// positions). The first block starts at the first byte of the input; the second, with the
// largest dictionary, where the first block's data now begins in the window, moved on by the
// first block's overrun; every other block at the cursor minus the dictionary.
inline unsigned ImplodeSortFirst(std::uint64_t block, unsigned cursor, unsigned dictSize)
{
    if (block == 0)
        return cursor;
    if (block == 1 && dictSize == IMPLODE_MAX_DICT)
        return cursor - dictSize + IMPLODE_LOOKAHEAD;
    return cursor - dictSize;
}

// Whether a sink wants to know where each token starts: then Mark(position) comes before the
// token's bits.
template <class Sink, class = void>
struct ImplodeSinkMarksTokens : std::false_type {
};
template <class Sink>
struct ImplodeSinkMarksTokens<Sink, std::void_t<decltype(std::declval<Sink&>().Mark(0u))>>
    : std::true_type {
};

template <class Sink>
class ImplodeTokenCoder {
public:
    // work: its nType, nDictSize and nDictBits are set, its window holds the block.
    ImplodeTokenCoder(ImplodeWork& work, Sink& sink)
        : m_work(work),
          m_sink(sink),
          m_symbols(work.nType == CODEC_ASCII ? kImplodeAsciiSymbols : kImplodeBinarySymbols),
          m_finder(work, work.nDictSize)
    {
    }

    // Sorts the positions first..limit of the window for the block's searches: with the pair
    // buckets, or else the triple buckets (which read 3 bytes behind limit). follows: the
    // window is that of this coder's last Sort slid on by one block, which saves the triple
    // sort some work (see ImplodeMatchFinder::SortTriples).
    void Sort(unsigned first, unsigned limit, bool pairs, bool follows = false)
    {
        m_bTriples = !pairs;
        if (pairs)
            m_finder.SortPairs(first, limit);
        else
            m_finder.SortTriples(first, limit, follows);
    }

    // See ImplodeMatchFinder::TakeSearchCounts: other coded the block before this coder's next.
    template <class OtherSink>
    void TakeSearchCounts(const ImplodeTokenCoder<OtherSink>& other)
    {
        m_finder.TakeSearchCounts(other.Finder());
    }

    const ImplodeMatchFinder& Finder() const { return m_finder; }

    // Codes the tokens from p on while the cursor is below both limit and stop, and returns
    // where the cursor stopped: at or past the smaller of the two. A stop within the block
    // only ends the coding early; the tokens before it are those of an uninterrupted run.
    unsigned Code(unsigned p, unsigned limit, bool endOfInput, unsigned stop = ~0u)
    {
        return m_bTriples ? Code<true>(p, limit, endOfInput, stop)
                          : Code<false>(p, limit, endOfInput, stop);
    }

    template <bool kTriples>
    unsigned Code(unsigned p, unsigned limit, bool endOfInput, unsigned stop)
    {
        const unsigned end = stop < limit ? stop : limit;
        while (p < end) {
            unsigned distance1 = 0;
            unsigned length = m_finder.template FindIn<kTriples>(p, distance1, false);
            for (;;) {
                if (length == 0 || (length == 2 && distance1 > IMPLODE_MAX_DIST1_LEN2)) {
                    EmitLiteral(p);
                    p += 1;
                    break;
                }
                if (endOfInput && p + length > limit) {
                    // Cut back to the input; what is left may be too short for a match.
                    length = limit - p;
                    if (length < 2 || (length == 2 && distance1 > IMPLODE_MAX_DIST1_LEN2)) {
                        EmitLiteral(p);
                        p += 1;
                    } else {
                        EmitMatch(p, length, distance1);
                        p += length;
                    }
                    break;
                }
                if (length >= IMPLODE_SURE_MATCH || p + 1 >= limit) {
                    EmitMatch(p, length, distance1);
                    p += length;
                    break;
                }
                unsigned nextDistance1 = 0;
                const unsigned nextLength =
                    m_finder.template FindIn<kTriples>(p + 1, nextDistance1, true);
                if (length >= nextLength ||
                    (nextLength == length + 1 && distance1 <= IMPLODE_NEAR_DIST1)) {
                    EmitMatch(p, length, distance1);
                    p += length;
                    break;
                }
                // The match one byte later is better: a literal now, then decide on that match.
                // (A stop right behind the literal ends the run here; a new search at p then
                // finds the same match, since a look-ahead result that wins is 3 or longer.)
                EmitLiteral(p);
                p += 1;
                if (p >= end)
                    break;
                length = nextLength;
                distance1 = nextDistance1;
            }
        }
        return p;
    }

    void EmitEnd()
    {
        m_sink.Put(m_symbols.codes[IMPLODE_END_SYMBOL], m_symbols.bits[IMPLODE_END_SYMBOL]);
    }

private:
    void EmitLiteral(unsigned pos)
    {
        if constexpr (ImplodeSinkMarksTokens<Sink>::value)
            m_sink.Mark(pos);
        const unsigned byte = m_work.abWindow[pos];
        m_sink.Put(m_symbols.codes[byte], m_symbols.bits[byte]);
    }

    // The length symbol, the distance code and the low distance bits go out as one field of
    // at most 16 + 8 + 6 bits.
    void EmitMatch(unsigned pos, unsigned length, unsigned distance1)
    {
        if constexpr (ImplodeSinkMarksTokens<Sink>::value)
            m_sink.Mark(pos);
        const unsigned symbol = 256 + length - 2;
        const unsigned lowBits = length == 2 ? 2 : m_work.nDictBits;
        const unsigned code = distance1 >> lowBits;
        const unsigned low = distance1 & ((1u << lowBits) - 1);
        const unsigned symBits = m_symbols.bits[symbol];
        const unsigned distBits = kDistBits[code];
        const std::uint32_t value = m_symbols.codes[symbol] |
                                    (static_cast<std::uint32_t>(kDistCodes[code]) << symBits) |
                                    (static_cast<std::uint32_t>(low) << (symBits + distBits));
        m_sink.Put(value, symBits + distBits + lowBits);
    }

    ImplodeWork& m_work;
    Sink& m_sink;
    const ImplodeSymbolTable& m_symbols;
    ImplodeMatchFinder m_finder;
    bool m_bTriples = false;
};

} // namespace codec
