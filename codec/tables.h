// The fixed code tables of the implode format, shared by compressor and decompressor.
//
// The format carries no code tables: the length-class, distance and ASCII-literal codes are
// fixed. Each table is written here once, as its bit counts; the code values follow from them
// by one rule (BuildCodes), evaluated at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace codec {

constexpr std::size_t LENGTH_CLASSES = 16;
constexpr std::size_t DISTANCE_CODES = 64;
constexpr std::size_t ASCII_CODES = 256;

// The code rule: canonical prefix codes handed out in order of increasing bit count and,
// within one bit count, increasing symbol; every code complemented; sent most significant bit
// first. The value returned for each symbol is what to write least significant bit first:
// the complemented code with its bits reversed.
template <std::size_t N>
constexpr std::array<std::uint16_t, N> BuildCodes(const std::array<std::uint8_t, N>& bits)
{
    std::array<std::uint16_t, N> codes{};
    unsigned code = 0;
    unsigned prevBits = 0;
    bool first = true;
    for (unsigned len = 1; len <= 16; ++len) {
        for (std::size_t sym = 0; sym < N; ++sym) {
            if (bits[sym] != len)
                continue;
            if (first)
                first = false;
            else if (len != prevBits)
                code = (code + 1) << (len - prevBits);
            else
                code += 1;
            prevBits = len;
            const unsigned complemented = ~code & ((1u << len) - 1u);
            unsigned reversed = 0;
            for (unsigned b = 0; b < len; ++b)
                reversed |= ((complemented >> b) & 1u) << (len - 1u - b);
            codes[sym] = static_cast<std::uint16_t>(reversed);
        }
    }
    return codes;
}

// Length classes. A match of length L (2..518) is sent as the code of its class, then
// L - 2 - base in the class's extra bits. Class 15 with extra value 255 (length 519) is the
// end code.
//                                                  class:  0  1  2  3  4  5  6  7  8  9 10 11  12  13   14   15
inline constexpr std::array<std::uint8_t, LENGTH_CLASSES> kLenBits = {3, 2, 3, 3, 4, 4, 4, 5,
                                                                      5, 5, 5, 6, 6, 6, 7, 7};
inline constexpr std::array<std::uint8_t, LENGTH_CLASSES> kLenExtraBits = {0, 0, 0, 0, 0, 0, 0, 0,
                                                                           1, 2, 3, 4, 5, 6, 7, 8};
inline constexpr std::array<std::uint16_t, LENGTH_CLASSES> kLenBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 14, 22, 38, 70, 134, 262};
inline constexpr std::array<std::uint16_t, LENGTH_CLASSES> kLenCodes = BuildCodes(kLenBits);

// Distance codes, indexed by (distance - 1) >> k, or >> 2 for a match of length 2.
// Bit counts: index 0: 2; 1-2: 4; 3-6: 5; 7-21: 6; 22-47: 7; 48-63: 8.
inline constexpr std::array<std::uint8_t, DISTANCE_CODES> kDistBits = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};
inline constexpr std::array<std::uint16_t, DISTANCE_CODES> kDistCodes = BuildCodes(kDistBits);

// ASCII literal codes (4 to 13 bits), indexed by byte value, 16 values per row.
inline constexpr std::array<std::uint8_t, ASCII_CODES> kAsciiBits = {
    11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12, // 0x00
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12, // 0x10
    4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,  // 0x20
    7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11, // 0x30
    12, 6,  7,  6,  6,  5,  7,  8,  8,  6,  11, 9,  6,  7,  6,  6,  // 0x40
    7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,  // 0x50
    12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,  // 0x60
    6,  10, 5,  5,  5,  5,  8,  7,  8,  8,  10, 11, 11, 12, 12, 12, // 0x70
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0x80
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0x90
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0xA0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xB0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xC0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xD0
    13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13, // 0xE0
    13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0xF0
};
inline constexpr std::array<std::uint16_t, ASCII_CODES> kAsciiCodes = BuildCodes(kAsciiBits);

} // namespace codec
