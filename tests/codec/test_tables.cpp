// The code tables are built from their bit counts; these rows are the format's own literal
// values, so a slip in the code rule or in a bit count shows here.
#include <gtest/gtest.h>

#include <cstdint>

#include "codec/tables.h"

namespace {

TEST(CodeTables, LengthClassCodes)
{
    const std::uint16_t expected[codec::LENGTH_CLASSES] = {0x05, 0x03, 0x01, 0x06, 0x0A, 0x02,
                                                           0x0C, 0x14, 0x04, 0x18, 0x08, 0x30,
                                                           0x10, 0x20, 0x40, 0x00};
    for (std::size_t c = 0; c < codec::LENGTH_CLASSES; ++c)
        EXPECT_EQ(codec::kLenCodes[c], expected[c]) << "length class " << c;
}

TEST(CodeTables, AllDistanceCodes)
{
    const std::uint16_t expected[codec::DISTANCE_CODES] = {
        0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E, 0x36, 0x16,
        0x26, 0x06, 0x3A, 0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22, 0x42, 0x02, 0x7C, 0x3C,
        0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C, 0x74, 0x34, 0x54, 0x14, 0x64, 0x24, 0x44,
        0x04, 0x78, 0x38, 0x58, 0x18, 0x68, 0x28, 0x48, 0x08, 0xF0, 0x70, 0xB0, 0x30,
        0xD0, 0x50, 0x90, 0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00,
    };
    for (std::size_t i = 0; i < codec::DISTANCE_CODES; ++i)
        EXPECT_EQ(codec::kDistCodes[i], expected[i]) << "distance code " << i;
}

TEST(CodeTables, AsciiTellingRows)
{
    struct Row {
        unsigned byte;
        unsigned bits;
        unsigned code;
    };
    const Row rows[] = {
        {0x20, 4, 0x000F}, {0x61, 5, 0x0007},  {0x65, 5, 0x001B},
        {0x0A, 7, 0x0062}, {0x0D, 7, 0x0022},  {0x41, 6, 0x0031},
        {0x30, 7, 0x005C}, {0x00, 11, 0x0490}, {0xFF, 13, 0x0000},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(codec::kAsciiBits[r.byte], r.bits) << "byte " << r.byte;
        EXPECT_EQ(codec::kAsciiCodes[r.byte], r.code) << "byte " << r.byte;
    }
}

// Every table must be a complete prefix code (Kraft sum exactly 1), or a decoder would meet
// bit patterns that mean nothing, or two symbols sharing one.
template <std::size_t N>
double KraftSum(const std::array<std::uint8_t, N>& bits)
{
    double sum = 0;
    for (std::uint8_t b : bits)
        sum += 1.0 / static_cast<double>(1u << b);
    return sum;
}

TEST(CodeTables, EveryTableIsACompletePrefixCode)
{
    EXPECT_DOUBLE_EQ(KraftSum(codec::kLenBits), 1.0);
    EXPECT_DOUBLE_EQ(KraftSum(codec::kDistBits), 1.0);
    EXPECT_DOUBLE_EQ(KraftSum(codec::kAsciiBits), 1.0);
}

} // namespace
