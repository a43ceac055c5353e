// The join's own pieces: the header test of a packed file and the volumes' extensions.
#include <string>

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
    struct Row { const char* label; std::string bytes; bool header; };
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

    struct Name { int index; const char* ext; };
    const Name names[] = {{0, "0KX"}, {1, "1KX"}, {9, "9KX"}, {10, "10X"}, {99, "99X"},
                          {100, "100"}, {32767, "32767"}};
    for (const Name& name : names)
        EXPECT_EQ(JoinedVolumeExtension(name.index), name.ext);
}

} // namespace
