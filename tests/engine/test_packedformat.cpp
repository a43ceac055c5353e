// The packed format: the header's bytes and the volumes' names.
#include <gtest/gtest.h>

#include <string>

#include "engine/packedformat.h"

namespace {

std::string Header(int count)
{
    const auto bytes = MakePackedFileHeader(count);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(PackedFormat, HeaderBytes)
{
    const std::string header = Header(3);
    EXPECT_EQ(header, std::string("#ZunPack1.0a#\0\x03\x00", 16));
    int count = 0;
    EXPECT_TRUE(ReadPackedFileHeader(reinterpret_cast<const unsigned char*>(header.data()), count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Header(32767).substr(14), std::string("\xFF\x7F", 2));
    const unsigned char negative[16] = {'#', 'Z', 'u', 'n', 'P', 'a', 'c',  'k',
                                        '1', '.', '0', 'a', '#', 0,   0x00, 0x80};
    EXPECT_TRUE(ReadPackedFileHeader(negative, count));
    EXPECT_EQ(count, -32768);
    const unsigned char noTerminator[16] = {'#', 'Z', 'u', 'n', 'P', 'a', 'c', 'k',
                                            '1', '.', '0', 'a', '#', 'x', 1,   0};
    EXPECT_FALSE(ReadPackedFileHeader(noTerminator, count));
}

TEST(PackedFormat, VolumeNames)
{
    struct Row {
        int index;
        const char* ext;
    };
    const Row rows[] = {{0, ".0KX"},   {1, ".1KX"},     {9, ".9KX"},
                        {10, ".10X"},  {99, ".99X"},    {100, ".100"},
                        {999, ".999"}, {1000, ".1000"}, {32766, ".32766"}};
    for (const Row& row : rows)
        EXPECT_EQ(VolumeExtension(".0KX", row.index), row.ext) << row.index;
    EXPECT_EQ(VolumePath("/d/report.0KX", 10), "/d/report.10X");
    EXPECT_EQ(VolumePath("/d.x/report.0KX", 100), "/d.x/report.100");
}

} // namespace
