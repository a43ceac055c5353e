// The names of the packed file of a project file and of the project file of a packed file.
#include <gtest/gtest.h>

#include "engine/names.h"

TEST(Names, PackedAndProjectNames)
{
    struct Row {
        const char* project;
        const char* packed;
    };
    const Row packed[] = {
        {"/a/b/deck.kmx", "/a/b/deck.0KX"},
        {"deck.KMX", "deck.0KX"},
        {"deck.rvn", "deck.0KX"},     // every project file packs to .0KX
        {"a.b/deck", "a.b/deck.0KX"}, // the dot of a folder is no extension
        {"/a/my deck.v2.kmx", "/a/my deck.v2.0KX"},
    };
    for (const Row& row : packed)
        EXPECT_EQ(PackedNameFor(row.project), row.packed) << row.project;

    struct Back {
        const char* packed;
        const char* into;
        const char* project;
    };
    const Back back[] = {
        {"/a/deck.0KX", "", "/a/deck.KMX"},
        {"/a/deck.0rv", "", "/a/deck.RVN"}, // a .0RV file in any case restores a .RVN file
        {"/a/deck.0RV", "", "/a/deck.RVN"},
        {"/a/deck.1KX", "", "/a/deck.KMX"},
        {"deck", "", "deck.KMX"},
        {"/ro/deck.0KX", "/tmp/out", "/tmp/out/deck.KMX"},
        {"/ro/deck.0RV", "/tmp/out/", "/tmp/out/deck.RVN"},
    };
    for (const Back& row : back)
        EXPECT_EQ(ProjectNameFor(row.packed, row.into), row.project)
            << row.packed << " " << row.into;

    for (const char* name : {"p.0KX", "p.0kx", "/a/p.0Kx"})
        EXPECT_TRUE(HasPackedExtension(name)) << name;
    for (const char* name : {"p.1KX", "p.0RV", "p.0KXX", "p0KX", "p.kmx"})
        EXPECT_FALSE(HasPackedExtension(name)) << name;
}
