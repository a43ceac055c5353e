// Builds implode streams token by token, for either literal coding and any dictionary size,
// including streams the compressor never writes (distance 1, 517- and 518-byte matches,
// matches reaching before the first byte). Alongside the stream it keeps the bytes a correct
// decoder must produce, with zeros before the first output byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "codec/codec.h"
#include "codec/tables.h"

class TokenWriter {
public:
    TokenWriter(unsigned type, unsigned dictSize) : type_(type)
    {
        dictBits_ = dictSize == 1024 ? 4 : dictSize == 2048 ? 5 : 6;
        bytes_ = {static_cast<unsigned char>(type), static_cast<unsigned char>(dictBits_)};
    }

    TokenWriter& Literal(unsigned char byte)
    {
        Bits(1, 0);
        if (type_ == CODEC_ASCII)
            Bits(codec::kAsciiBits[byte], codec::kAsciiCodes[byte]);
        else
            Bits(8, byte);
        expected_.push_back(byte);
        return *this;
    }

    template <typename Bytes>
    TokenWriter& Literals(const Bytes& bytes)
    {
        for (auto b : bytes)
            Literal(static_cast<unsigned char>(b));
        return *this;
    }

    // A match of 2 to 518 bytes from `distance` bytes back (1 to 256 for length 2, else up
    // to the dictionary size).
    TokenWriter& Match(unsigned length, unsigned distance)
    {
        if (length < 2 || length > 518 || distance < 1)
            throw std::invalid_argument("no such match");
        LengthSymbol(length);
        const unsigned lowBits = length == 2 ? 2 : dictBits_;
        const unsigned d = distance - 1;
        if ((d >> lowBits) >= codec::DISTANCE_CODES)
            throw std::invalid_argument("distance beyond the dictionary");
        Bits(codec::kDistBits[d >> lowBits], codec::kDistCodes[d >> lowBits]);
        Bits(lowBits, d & ((1u << lowBits) - 1u));
        for (unsigned i = 0; i < length; ++i) {
            const std::size_t pos = expected_.size();
            expected_.push_back(pos >= distance ? expected_[pos - distance] : 0);
        }
        return *this;
    }

    // The end code (length 519); the last byte is filled up with zero bits.
    TokenWriter& End()
    {
        LengthSymbol(519);
        return *this;
    }

    // The stream as written so far, a partly filled last byte included.
    std::vector<unsigned char> Stream() const
    {
        std::vector<unsigned char> out = bytes_;
        if (bitCount_ != 0)
            out.push_back(static_cast<unsigned char>(pending_));
        return out;
    }

    const std::vector<unsigned char>& Expected() const { return expected_; }

    // The bits written so far, the header's included.
    std::size_t BitCount() const { return bytes_.size() * 8 + bitCount_; }

private:
    void LengthSymbol(unsigned length)
    {
        unsigned c = codec::LENGTH_CLASSES - 1;
        while (codec::kLenBase[c] + 2u > length)
            --c;
        Bits(1, 1);
        Bits(codec::kLenBits[c], codec::kLenCodes[c]);
        Bits(codec::kLenExtraBits[c], length - 2 - codec::kLenBase[c]);
    }

    // Appends n bits of value, least significant first.
    void Bits(unsigned n, unsigned value)
    {
        for (unsigned i = 0; i < n; ++i) {
            pending_ |= ((value >> i) & 1u) << bitCount_;
            if (++bitCount_ == 8) {
                bytes_.push_back(static_cast<unsigned char>(pending_));
                pending_ = 0;
                bitCount_ = 0;
            }
        }
    }

    unsigned type_;
    unsigned dictBits_;
    std::vector<unsigned char> bytes_;
    unsigned pending_ = 0;
    unsigned bitCount_ = 0;
    std::vector<unsigned char> expected_;
};
