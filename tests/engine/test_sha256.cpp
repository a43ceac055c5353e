// The checksum of the manifests against the published SHA-256 test vectors, whole and fed in
// pieces of every size, so block boundaries and the padding's two cases are covered.
#include <gtest/gtest.h>

#include <string>

#include "engine/sha256.h"

namespace {

std::string Digest(const std::string& text, std::size_t piece)
{
    Sha256 digest;
    for (std::size_t at = 0; at < text.size(); at += piece)
        digest.Update(reinterpret_cast<const unsigned char*>(text.data()) + at,
                      std::min(piece, text.size() - at));
    return digest.FinalHex();
}

TEST(Sha256, KnownVectorsWholeAndInPieces)
{
    struct Row {
        std::string input;
        const char* digest;
    };
    const Row rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"The quick brown fox jumps over the lazy dog",
         "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
    };
    for (const Row& row : rows) {
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{3}, std::size_t{55}, std::size_t{56}, std::size_t{63},
              std::size_t{64}, std::size_t{65}, std::size_t{4096}, std::size_t{1} << 20}) {
            if (row.input.size() > 100000 && piece < 55)
                continue; // a million single calls add nothing the short rows do not show
            EXPECT_EQ(Digest(row.input, piece), row.digest)
                << row.input.substr(0, 20) << " in pieces of " << piece;
        }
    }
}

TEST(Sha256, EveryLengthAroundTheBlockAndPaddingBoundaries)
{
    // Lengths 0 to 130 of 'a': a checksum of each length differs from its neighbours', and a
    // digest read early goes on to the same result as one read only at the end.
    Sha256 running;
    std::string previous;
    for (std::size_t length = 0; length <= 130; ++length) {
        const std::string text(length, 'a');
        const std::string whole = Digest(text, 64);
        EXPECT_EQ(running.FinalHex(), whole) << length;
        EXPECT_NE(whole, previous) << length;
        previous = whole;
        const unsigned char a = 'a';
        running.Update(&a, 1);
    }
    EXPECT_EQ(Digest(std::string(56, 'a'), 56),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(Digest(std::string(64, 'a'), 64),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(Manifest, Sha256OfKnownTexts)
{
    struct Row {
        std::string text;
        const char* digest;
    };
    const Row rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const Row& row : rows) {
        Sha256 digest;
        digest.Update(reinterpret_cast<const unsigned char*>(row.text.data()), row.text.size());
        EXPECT_EQ(digest.FinalHex(), row.digest) << row.text;
    }
}

} // namespace
