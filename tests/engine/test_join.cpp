// The join's own pieces: the header test of a packed file and the volumes' extensions.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/join.h"
#include "engine/packedformat.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/packhelpers.h"

namespace {

std::string Header(int count)
{
    const auto bytes = MakePackedFileHeader(count);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(Join, HeaderTestAndVolumeNames)
{
    TempDir dir;
    struct Row {
        const char* label;
        std::string bytes;
        bool header;
    };
    const Row rows[] = {
        {"header with count 3", Header(3) + "data", true},
        {"header alone", Header(1), true},
        {"signature cut at 15 bytes", Header(1).substr(0, 15), false},
        {"signature without its zero byte", "#ZunPack1.0a#x" + std::string(2, '\1'), false},
        {"an implode stream", ImplodeBytes("abc"), false},
        {"empty", "", false},
    };
    for (const Row& row : rows) {
        WriteFileBytes(dir / "f", row.bytes);
        unsigned char header[16] = {};
        EXPECT_EQ(CheckPackedHeader(dir / "f", header), row.header) << row.label;
    }
    unsigned char header[16] = {};
    EXPECT_FALSE(CheckPackedHeader(dir / "missing", header));

    struct Name {
        int index;
        const char* ext;
    };
    const Name names[] = {{0, "0KX"},  {1, "1KX"},   {9, "9KX"},      {10, "10X"},
                          {99, "99X"}, {100, "100"}, {32767, "32767"}};
    for (const Name& name : names)
        EXPECT_EQ(JoinedVolumeExtension(name.index), name.ext);
}

} // namespace

// The volume size is what most volumes agree on, so that one volume cut short or grown is the
// one found odd, never its sound neighbours.
TEST(Join, MeasureSetBlamesTheOddVolume)
{
    TempDir dir;
    struct Row {
        const char* label;
        std::vector<std::int64_t> sizes; // volume 0 with its 16-byte header
        std::vector<int> odd;
        bool firstWrong;
        bool lastTooLong;
    };
    const Row rows[] = {
        {"sound", {1016, 1000, 1000, 400}, {}, false, false},
        {"volume 0 cut", {16, 1000, 1000, 400}, {}, true, false},
        {"volume 1 cut", {1016, 900, 1000, 400}, {1}, false, false},
        {"volume 2 grown", {1016, 1000, 1100, 400}, {2}, false, false},
        {"last grown past V", {1016, 1000, 1000, 1200}, {}, false, true},
        {"three volumes, volume 1 cut", {1016, 900, 400}, {1}, false, false},
        {"three volumes, volume 0 cut", {916, 1000, 400}, {}, true, false},
    };
    for (const Row& row : rows) {
        std::vector<std::string> volumes;
        for (std::size_t i = 0; i < row.sizes.size(); ++i) {
            volumes.push_back(dir / ("s." + JoinedVolumeExtension(static_cast<int>(i))));
            WriteFileBytes(volumes.back(),
                           std::string(static_cast<std::size_t>(row.sizes[i]), 'x'));
        }
        const SetShape shape = MeasureSet(volumes);
        EXPECT_EQ(shape.oddVolumes, row.odd) << row.label;
        EXPECT_EQ(shape.firstWrong, row.firstWrong) << row.label;
        EXPECT_EQ(shape.lastTooLong, row.lastTooLong) << row.label;
        // Each odd volume is named by its own line, and no sound one is.
        const std::vector<std::string> lines = DescribeSetShape(shape, volumes);
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const bool blamed =
                std::count(row.odd.begin(), row.odd.end(), static_cast<int>(i)) > 0 ||
                (i == 0 && row.firstWrong) || (i + 1 == volumes.size() && row.lastTooLong);
            bool named = false;
            for (const std::string& line : lines)
                named = named || line.find("'" + volumes[i] + "'") != std::string::npos;
            EXPECT_EQ(named, blamed) << row.label << ": volume " << i;
        }
    }
}
