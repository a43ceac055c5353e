// The implode compressor.
//
// Input is read in blocks of IMPLODE_BLOCK_SIZE bytes into a window that also keeps the
// dictionary (the D bytes before the block) and the look-ahead: the last IMPLODE_LOOKAHEAD
// bytes of a block are not coded with it but carried into the next block, so that a match
// found before the block's limit always has its full length of real bytes behind it. Only
// at the end of the input is everything coded, and matches are cut back to the input there.
//
// Per block the window positions are sorted into buckets (implode_match.h), then tokens are
// chosen greedily with one byte of look-ahead (implode_coder.h): a match shorter than 8 bytes
// is held back for a literal when the match one byte later is clearly better (two bytes
// longer, or one byte longer while the current match is farther back than 129 bytes). Every
// choice fixes the output bytes, which must equal those of the Windows program; the parallel
// driver (implode_parallel.cpp) makes them with the same code.
#include "codec/implode.h"

#include <cstring>

#include "codec/implode_bits.h"
#include "codec/implode_coder.h"

namespace codec {
namespace {

// Everything one call needs besides the work area: the callbacks and the caller's parameter
// (kept out of the work area, see ImplodeWork), the bit writer and the token coder.
class Compressor {
public:
    Compressor(ImplodeWork& work, CodecReadFn read, CodecWriteFn write, void* param,
               bool pairBucketsOnly)
        : m_work(work),
          m_pfnRead(read),
          m_pParam(param),
          m_bPairBucketsOnly(pairBucketsOnly),
          m_bits(work.abOutBuf, write, param),
          m_coder(work, m_bits)
    {
    }

    void Run();

private:
    unsigned FillBlock(bool& endOfInput);

    ImplodeWork& m_work;
    CodecReadFn m_pfnRead;
    void* m_pParam;
    bool m_bPairBucketsOnly;
    ImplodeBitWriter m_bits;
    ImplodeTokenCoder<ImplodeBitWriter> m_coder;
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
        const unsigned first = ImplodeSortFirst(block, cursor, dictSize);
        // The last block is searched with the pair buckets, whose sorted positions are what
        // a comparison running past the window's end reads; every other block with the
        // triple buckets, which find the same matches with fewer comparisons. Every block
        // after the first finds the window of the one before slid on by one block.
        m_coder.Sort(first, limit, endOfInput || m_bPairBucketsOnly, block > 0);
        cursor = m_coder.Code(cursor, limit, endOfInput);
        if (endOfInput)
            break;

        // Slide: the dictionary and the look-ahead move to the front, the next block is read
        // behind them.
        cursor -= IMPLODE_BLOCK_SIZE;
        std::memmove(m_work.abWindow, m_work.abWindow + IMPLODE_BLOCK_SIZE,
                     dictSize + IMPLODE_LOOKAHEAD);
        m_bits.Sync();
    }

    m_coder.EmitEnd();
    m_bits.Finish();
}

} // namespace
} // namespace codec

namespace codec {
namespace {

unsigned Implode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                 const unsigned* pType, const unsigned* pDictSize, bool pairBucketsOnly)
{
    auto& work = *static_cast<ImplodeWork*>(pWork);
    if (const unsigned refused = ImplodeSetUp(work, *pType, *pDictSize); refused != CODEC_OK)
        return refused;
    Compressor(work, pfnRead, pfnWrite, pParam, pairBucketsOnly).Run();
    return CODEC_OK;
}

} // namespace

unsigned ImplodeWithPairBucketsOnly(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork,
                                    void* pParam, const unsigned* pType, const unsigned* pDictSize)
{
    return Implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize, true);
}

} // namespace codec

unsigned implode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                 const unsigned* pType, const unsigned* pDictSize)
{
    return codec::Implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize, false);
}
