// The implode compressor.
//
// Input is read in blocks of IMPLODE_BLOCK_SIZE bytes into a window that also keeps the
// dictionary (the D bytes before the block) and the look-ahead: the last IMPLODE_LOOKAHEAD
// bytes of a block are not coded with it but carried into the next block, so that a match
// found before the block's limit always has its full length of real bytes behind it. Only
// at the end of the input is everything coded, and matches are cut back to the input there.
//
// Per block the window positions are sorted into buckets (implode_match.h), then tokens are
// chosen greedily with one byte of look-ahead: a match shorter than 8 bytes is held back for
// a literal when the match one byte later is clearly better (two bytes longer, or one byte
// longer while the current match is farther back than 129 bytes). Every choice here fixes
// the output bytes, which must equal those of the Windows program.
#include "codec/implode.h"

#include <cstring>

#include "codec/implode_bits.h"
#include "codec/implode_match.h"
#include "codec/tables.h"

namespace codec {
namespace {

// The shortest match that is taken without looking one byte ahead.
constexpr unsigned IMPLODE_SURE_MATCH = 8;
// A one-byte-longer match at the next position does not beat a match this close
// (distance - 1 at most this).
constexpr unsigned IMPLODE_NEAR_DIST1 = 128;

// Total bits and value (least significant bit first, flag bit included) of every symbol:
// the literals of one coding, then the lengths 2 to 519 class by class.
struct SymbolTable {
    std::uint8_t bits[IMPLODE_SYMBOLS];
    std::uint16_t codes[IMPLODE_SYMBOLS];
};

constexpr SymbolTable BuildSymbols(bool ascii)
{
    SymbolTable t{};
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
            t.codes[symbol] = static_cast<std::uint16_t>(1u + (kLenCodes[c] << 1) + (extra << (codeBits + 1)));
        }
    }
    return t;
}

constexpr SymbolTable kBinarySymbols = BuildSymbols(false);
constexpr SymbolTable kAsciiSymbols = BuildSymbols(true);
static_assert(kBinarySymbols.codes[IMPLODE_END_SYMBOL] == 0xFF01 && kBinarySymbols.bits[IMPLODE_END_SYMBOL] == 16,
              "the end code is length 519: class 15 with extra value 255");

// Everything one call needs besides the work area: the callbacks and the caller's parameter
// (kept out of the work area, see ImplodeWork::abUnused), the tables of the chosen coding.
class Compressor {
public:
    Compressor(ImplodeWork& work, CodecReadFn read, CodecWriteFn write, void* param, bool pairBucketsOnly)
        : m_work(work), m_pfnRead(read), m_pParam(param), m_bPairBucketsOnly(pairBucketsOnly),
          m_symbols(work.nType == CODEC_ASCII ? kAsciiSymbols : kBinarySymbols),
          m_bits(work.abOutBuf, write, param), m_finder(work, work.nDictSize)
    {
    }

    void Run();

private:
    unsigned FillBlock(bool& endOfInput);
    template <bool kTriples>
    void CodeBlock(unsigned& cursor, unsigned limit, bool endOfInput);

    void EmitLiteral(unsigned pos)
    {
        const unsigned byte = m_work.abWindow[pos];
        m_bits.Put(m_symbols.codes[byte], m_symbols.bits[byte]);
    }

    // The length symbol, the distance code and the low distance bits go out as one field of
    // at most 16 + 8 + 6 bits.
    void EmitMatch(unsigned length, unsigned distance1)
    {
        const unsigned symbol = 256 + length - 2;
        const unsigned lowBits = length == 2 ? 2 : m_work.nDictBits;
        const unsigned code = distance1 >> lowBits;
        const unsigned low = distance1 & ((1u << lowBits) - 1);
        const unsigned symBits = m_symbols.bits[symbol];
        const unsigned distBits = kDistBits[code];
        const std::uint32_t value = m_symbols.codes[symbol]
            | (static_cast<std::uint32_t>(kDistCodes[code]) << symBits)
            | (static_cast<std::uint32_t>(low) << (symBits + distBits));
        m_bits.Put(value, symBits + distBits + lowBits);
    }

    ImplodeWork& m_work;
    CodecReadFn m_pfnRead;
    void* m_pParam;
    bool m_bPairBucketsOnly;
    const SymbolTable& m_symbols;
    ImplodeBitWriter m_bits;
    ImplodeMatchFinder m_finder;
};

// Reads one block behind the dictionary: IMPLODE_BLOCK_SIZE bytes, asking again for the rest
// after a short count, until the block is full or a read returns 0 (the end of the input).
unsigned Compressor::FillBlock(bool& endOfInput)
{
    std::uint8_t* const dest = m_work.abWindow + IMPLODE_LOOKAHEAD + m_work.nDictSize;
    unsigned gathered = 0;
    while (gathered < IMPLODE_BLOCK_SIZE) {
        const unsigned wanted = IMPLODE_BLOCK_SIZE - gathered;
        unsigned size = wanted;
        unsigned got = m_pfnRead(dest + gathered, &size, m_pParam);
        if (got == 0) {
            endOfInput = true;
            break;
        }
        // A callback that claims more than it was asked for cannot have placed more within
        // the block; never count bytes beyond it.
        if (got > wanted)
            got = wanted;
        gathered += got;
    }
    return gathered;
}

// Codes the tokens that start below the limit; the cursor ends at or past it.
// kTriples: the block was sorted by SortTriples (else SortPairs).
template <bool kTriples>
void Compressor::CodeBlock(unsigned& cursor, unsigned limit, bool endOfInput)
{
    unsigned p = cursor;
    while (p < limit) {
        unsigned distance1 = 0;
        unsigned length = m_finder.FindIn<kTriples>(p, distance1, false);
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
                    EmitMatch(length, distance1);
                    p += length;
                }
                break;
            }
            if (length >= IMPLODE_SURE_MATCH || p + 1 >= limit) {
                EmitMatch(length, distance1);
                p += length;
                break;
            }
            unsigned nextDistance1 = 0;
            const unsigned nextLength = m_finder.FindIn<kTriples>(p + 1, nextDistance1, true);
            if (length >= nextLength || (nextLength == length + 1 && distance1 <= IMPLODE_NEAR_DIST1)) {
                EmitMatch(length, distance1);
                p += length;
                break;
            }
            // The match one byte later is better: a literal now, then decide on that match.
            EmitLiteral(p);
            p += 1;
            length = nextLength;
            distance1 = nextDistance1;
        }
    }
    cursor = p;
}

void Compressor::Run()
{
    const unsigned dictSize = m_work.nDictSize;
    m_bits.Start(m_work.nType, m_work.nDictBits);

    unsigned cursor = IMPLODE_LOOKAHEAD + dictSize;
    bool endOfInput = false;
    // Only the first two blocks differ from the rest, so the count stops at 2 and never
    // wraps, however long the input.
    for (unsigned block = 0;; block = block < 2 ? block + 1 : 2) {
        const unsigned gathered = FillBlock(endOfInput);
        if (block == 0 && gathered == 0)
            break;
        const unsigned limit = dictSize + gathered + (endOfInput ? IMPLODE_LOOKAHEAD : 0);

        // The sort range starts where the window holds data within reach: the block itself in
        // the first block; in the second, for the largest dictionary, not before the first
        // block's data, which now begins at IMPLODE_LOOKAHEAD.
        unsigned first;
        if (block == 0)
            first = cursor;
        else if (block == 1 && dictSize == IMPLODE_MAX_DICT)
            first = cursor - dictSize + IMPLODE_LOOKAHEAD;
        else
            first = cursor - dictSize;
        // The last block is searched with the pair buckets, whose sorted positions are what
        // a comparison running past the window's end reads; every other block with the
        // triple buckets, which find the same matches with fewer comparisons.
        if (endOfInput || m_bPairBucketsOnly) {
            m_finder.SortPairs(first, limit);
            CodeBlock<false>(cursor, limit, endOfInput);
        } else {
            m_finder.SortTriples(first, limit);
            CodeBlock<true>(cursor, limit, endOfInput);
        }
        if (endOfInput)
            break;

        // Slide: the dictionary and the look-ahead move to the front, the next block is read
        // behind them.
        cursor -= IMPLODE_BLOCK_SIZE;
        std::memmove(m_work.abWindow, m_work.abWindow + IMPLODE_BLOCK_SIZE, dictSize + IMPLODE_LOOKAHEAD);
        m_bits.Sync();
    }

    m_bits.Put(m_symbols.codes[IMPLODE_END_SYMBOL], m_symbols.bits[IMPLODE_END_SYMBOL]);
    m_bits.Finish();
}

} // namespace
} // namespace codec

namespace codec {
namespace {

unsigned Implode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam, const unsigned* pType,
                 const unsigned* pDictSize, bool pairBucketsOnly)
{
    auto& work = *static_cast<ImplodeWork*>(pWork);

    switch (*pDictSize) {
    case 1024: work.nDictBits = 4; break;
    case 2048: work.nDictBits = 5; break;
    case 4096: work.nDictBits = 6; break;
    default: return CODEC_BAD_DICT_SIZE;
    }
    if (*pType != CODEC_BINARY && *pType != CODEC_ASCII)
        return CODEC_BAD_TYPE;
    work.nDictMask = (1u << work.nDictBits) - 1;
    work.nDictSize = *pDictSize;
    work.nType = *pType;

    Compressor(work, pfnRead, pfnWrite, pParam, pairBucketsOnly).Run();
    return CODEC_OK;
}

} // namespace

unsigned ImplodeWithPairBucketsOnly(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                                    const unsigned* pType, const unsigned* pDictSize)
{
    return Implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize, true);
}

} // namespace codec

unsigned implode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                 const unsigned* pType, const unsigned* pDictSize)
{
    return codec::Implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize, false);
}
