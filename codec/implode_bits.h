// Bit output of the compressor.
//
// The stream is one long run of bit fields, each written least significant bit first, cut
// into pieces of exactly IMPLODE_OUT_PIECE bytes for the write callback (the two header bytes
// are the start of the first piece), and closed by one last write of whatever remains, 0 to
// IMPLODE_OUT_PIECE bytes, after the end code has been padded with zero bits to a whole byte.
//
// Fields are gathered in a 64-bit accumulator and leave it 32 bits at a time, so the hot path
// costs a shift, an OR and one 4-byte store, without a branch. The bytes and the pieces are
// the same as if the stream were built byte by byte: a piece is written as soon as its last
// byte is stored, and Sync() writes a piece that is already complete in the accumulator
// before the compressor asks for more input, so reads and writes also reach the callbacks in
// the same order.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/codec.h"
#include "codec/implode.h"

namespace codec {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the accumulator is stored as a little-endian word");
static_assert(IMPLODE_OUT_PIECE - 2 + 4 <= IMPLODE_OUT_BUFFER,
              "a word stored at the last even position fits the buffer");

class ImplodeBitWriter {
public:
    ImplodeBitWriter(std::uint8_t* buffer, CodecWriteFn write, void* param)
        : m_pBuf(buffer), m_pfnWrite(write), m_pParam(param)
    {
    }

    // Starts the stream with its two header bytes.
    void Start(unsigned type, unsigned dictBits)
    {
        std::memset(m_pBuf, 0, IMPLODE_OUT_BUFFER);
        m_pBuf[0] = static_cast<std::uint8_t>(type);
        m_pBuf[1] = static_cast<std::uint8_t>(dictBits);
        m_nPos = 2;
        m_nAcc = 0;
        m_nBits = 0;
    }

    // Appends the low `bits` bits of value (at most 32). The accumulator holds fewer than 32
    // bits between calls, so it never overflows.
    //
    // m_nPos stays even: it starts at 2, grows by 4 per store and drops by
    // IMPLODE_OUT_PIECE (even) per piece, and Sync() leaves it at 0. So a store starts at
    // IMPLODE_OUT_PIECE - 2 at the latest and spills at most 2 bytes past the piece, which is
    // what the buffer's 2 extra bytes are for.
    //
    // The low 32 bits of the accumulator are stored at m_nPos every time, complete or not,
    // and m_nPos moves on only when they are complete, so that no branch depends on the
    // lengths of the codes. Bytes from m_nPos on are scratch until then.
    void Put(std::uint32_t value, unsigned bits)
    {
        m_nAcc |= static_cast<std::uint64_t>(value) << m_nBits;
        m_nBits += bits;
        const std::uint32_t low = static_cast<std::uint32_t>(m_nAcc);
        std::memcpy(m_pBuf + m_nPos, &low, 4);
        const unsigned full = m_nBits >> 5; // 0 or 1
        m_nPos += 4 * full;
        m_nAcc >>= 32 * full;
        m_nBits -= 32 * full;
        if (m_nPos >= IMPLODE_OUT_PIECE)
            WritePiece();
    }

    // Writes the current piece if the bits gathered so far already complete it.
    void Sync()
    {
        if (m_nPos + m_nBits / 8 < IMPLODE_OUT_PIECE)
            return;
        while (m_nPos < IMPLODE_OUT_PIECE)
            StoreByte();
        WritePiece();
    }

    // Pads the last byte with zero bits and writes the rest of the stream (0 to
    // IMPLODE_OUT_PIECE bytes). Call after the end code.
    void Finish()
    {
        while (m_nBits >= 8) {
            StoreByte();
            if (m_nPos == IMPLODE_OUT_PIECE)
                WritePiece();
        }
        if (m_nBits > 0) {
            m_pBuf[m_nPos++] = static_cast<std::uint8_t>(m_nAcc);
            m_nAcc = 0;
            m_nBits = 0;
        }
        unsigned size = m_nPos;
        m_pfnWrite(m_pBuf, &size, m_pParam);
        m_nPos = 0;
    }

private:
    void StoreByte()
    {
        m_pBuf[m_nPos++] = static_cast<std::uint8_t>(m_nAcc);
        m_nAcc >>= 8;
        m_nBits -= 8;
    }

    // Hands the first IMPLODE_OUT_PIECE bytes to the callback and moves the bytes stored
    // beyond them to the front.
    void WritePiece()
    {
        unsigned size = IMPLODE_OUT_PIECE;
        m_pfnWrite(m_pBuf, &size, m_pParam);
        const unsigned spill = m_nPos - IMPLODE_OUT_PIECE;
        std::memmove(m_pBuf, m_pBuf + IMPLODE_OUT_PIECE, spill);
        m_nPos = spill;
    }

    std::uint8_t* m_pBuf;
    CodecWriteFn m_pfnWrite;
    void* m_pParam;
    std::uint64_t m_nAcc = 0;
    unsigned m_nBits = 0;
    unsigned m_nPos = 0;
};

} // namespace codec
