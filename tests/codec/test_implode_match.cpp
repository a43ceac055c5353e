// The match finder against the plain definition of its result: among the candidates of the
// sorted range within reach (p - (D - 1) to p - 2), the longest match of at most 516 bytes,
// the nearest of equal lengths, except that the first candidate in ascending order to reach
// 516 is taken. Inputs with long, self-similar repeats drive the border scan through its
// skips and restarts, where a slip would change the output only now and then. Both ways of
// sorting are checked: the pair buckets give the definition itself; the triple buckets give
// it too, except that a 2-byte match is reported only for a main search and within 256
// bytes (the token choice cannot use any other).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/implode_coder.h"
#include "codec/implode_match.h"

namespace {

struct Expected {
    unsigned length = 0;
    unsigned distance1 = 0;
};

Expected Definition(const std::uint8_t* win, unsigned first, unsigned p, unsigned dictSize)
{
    Expected best;
    unsigned bestLength = 1;
    const unsigned lowest = p - (dictSize - 1) > first ? p - (dictSize - 1) : first;
    for (unsigned c = lowest; c + 2 <= p; ++c) {
        unsigned n = 0;
        while (n < codec::IMPLODE_MAX_MATCH && win[c + n] == win[p + n])
            ++n;
        if (n < 2)
            continue;
        if (n >= bestLength) {
            bestLength = n;
            best = {n, p - c - 1};
            if (n == codec::IMPLODE_MAX_MATCH)
                break;
        }
    }
    return best;
}

// Window contents, from the start of the data on, built so that many positions share long
// prefixes with different continuations.
std::vector<std::uint8_t> Pattern(int kind, std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out;
    switch (kind) {
    case 0: { // Fibonacci word over two letters: borders everywhere
        std::string a = "a", b = "ab";
        while (b.size() < size) {
            std::string next = b + a;
            a = b;
            b = next;
        }
        out.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(size));
        break;
    }
    case 1: // two letters, random runs
        while (out.size() < size)
            out.insert(out.end(), 1 + rng() % 30, static_cast<std::uint8_t>('a' + rng() % 2));
        break;
    case 2: { // a long unit repeated with rare changes
        std::vector<std::uint8_t> unit(40 + rng() % 200);
        for (auto& u : unit)
            u = static_cast<std::uint8_t>('a' + rng() % 3);
        while (out.size() < size) {
            out.insert(out.end(), unit.begin(), unit.end());
            unit[rng() % unit.size()] = static_cast<std::uint8_t>('a' + rng() % 3);
        }
        break;
    }
    case 3: // a single byte with a rare different one
        while (out.size() < size)
            out.push_back(rng() % 700 == 0 ? 'b' : 'a');
        break;
    case 4: // bytes from a small alphabet: many 2-byte matches, some only far back
        while (out.size() < size)
            out.push_back(static_cast<std::uint8_t>(rng() % 24));
        break;
    case 5: // runs of one byte from 1 to 1200 long, around the longest match, between short words
        while (out.size() < size) {
            out.insert(out.end(), 1 + rng() % (rng() % 2 ? 1200 : 40), 0);
            for (int i = 0, n = static_cast<int>(rng() % 4); i < n; ++i)
                out.push_back(static_cast<std::uint8_t>(1 + rng() % 3));
        }
        break;
    default: // bytes from 100 values: few 3-byte matches, so most searches ask for a pair
        while (out.size() < size)
            out.push_back(static_cast<std::uint8_t>(rng() % 100));
        break;
    }
    out.resize(size);
    return out;
}

TEST(ImplodeMatchFinder, AgreesWithTheDefinition)
{
    auto work = std::make_unique<codec::ImplodeWork>();
    for (const bool triples : {false, true}) {
        for (unsigned dictSize : {1024u, 2048u, 4096u}) {
            for (int kind = 0; kind < 7; ++kind) {
                SCOPED_TRACE(std::string(triples ? "triple" : "pair") + " buckets, dictionary " +
                             std::to_string(dictSize) + ", pattern " + std::to_string(kind));
                *work = codec::ImplodeWork{};
                const unsigned first = codec::IMPLODE_LOOKAHEAD + dictSize;
                const unsigned last = first + 4096;
                const auto data = Pattern(kind, last + 1 + codec::IMPLODE_MAX_MATCH - first,
                                          31u + static_cast<unsigned>(kind));
                std::copy(data.begin(), data.end(), work->abWindow + first);
                codec::ImplodeMatchFinder finder(*work, dictSize);
                // Twice over: with the triple buckets the second round's pair searches go
                // through the filter of recent pairs where the first round asked for pairs
                // often, and scan the bytes directly otherwise.
                for (int round = 0; round < 2; ++round) {
                    if (triples)
                        finder.SortTriples(first, last);
                    else
                        finder.SortPairs(first, last);
                    if (triples && round == 1 && kind == 6) {
                        ASSERT_TRUE(finder.KeepsRecentPairs());
                    }
                    for (unsigned p = first; p < last; ++p) {
                        // Positions passed over, as a long match passes over them: a gap of
                        // 200 and one of 600.
                        const unsigned phase = (p - first) % 2000;
                        if ((phase >= 1000 && phase < 1200) || (phase >= 1300 && phase < 1900))
                            continue;
                        // Main searches and look-ahead searches interleave as in the token choice.
                        const bool lookAhead = p % 3 == 1;
                        unsigned distance1 = 0;
                        const unsigned length = finder.Find(p, distance1, lookAhead);
                        Expected e = Definition(work->abWindow, first, p, dictSize);
                        if (triples && e.length == 2 && (lookAhead || e.distance1 > 255))
                            e = Expected{};
                        ASSERT_EQ(length, e.length) << "round " << round << ", at " << p;
                        if (length != 0) {
                            ASSERT_EQ(distance1, e.distance1) << "round " << round << ", at " << p;
                        }
                    }
                }
            }
        }
    }
}

} // namespace

namespace {

// The window of block `block` (see implode.cpp): the input from block * 4096 - 516 - D on,
// zeros before the input's start.
void LoadBlockWindow(codec::ImplodeWork& work, const std::vector<std::uint8_t>& input,
                     unsigned block, unsigned dictSize)
{
    const long origin =
        static_cast<long>(block) * codec::IMPLODE_BLOCK_SIZE - codec::IMPLODE_LOOKAHEAD - dictSize;
    for (unsigned i = 0; i < codec::IMPLODE_WINDOW_SIZE; ++i) {
        const long at = origin + static_cast<long>(i);
        work.abWindow[i] = at >= 0 && at < static_cast<long>(input.size())
                               ? input[static_cast<std::size_t>(at)]
                               : 0;
    }
}

} // namespace

// A triple sort of a block that follows the finder's last one takes over the counts of the
// positions the two share. Block after block, it must sort exactly as a fresh finder does:
// for every dictionary, for sort ranges starting anywhere the last block's overrun leaves
// them, and for data of long runs (few hashes, long buckets) and of many hashes.
TEST(ImplodeMatchFinder, SortOfAFollowingBlockEqualsAFreshSort)
{
    auto slid = std::make_unique<codec::ImplodeWork>();
    auto fresh = std::make_unique<codec::ImplodeWork>();
    constexpr unsigned blocks = 6;
    for (unsigned dictSize : {1024u, 2048u, 4096u}) {
        for (int kind : {1, 4, 5, 6}) {
            const auto input = Pattern(kind, blocks * codec::IMPLODE_BLOCK_SIZE + 600,
                                       7u + static_cast<unsigned>(kind));
            *slid = codec::ImplodeWork{};
            codec::ImplodeMatchFinder finder(*slid, dictSize);
            const unsigned last = dictSize + codec::IMPLODE_BLOCK_SIZE;
            for (unsigned block = 0; block < blocks; ++block) {
                SCOPED_TRACE("dictionary " + std::to_string(dictSize) + ", pattern " +
                             std::to_string(kind) + ", block " + std::to_string(block));
                // The block before ran past its limit by this many bytes: a few, none, the
                // most it can, ...
                const unsigned overrun = std::array<unsigned, blocks>{0, 3, 0, 515, 1, 200}[block];
                const unsigned cursor =
                    block == 0 ? codec::IMPLODE_LOOKAHEAD + dictSize : dictSize + overrun;
                const unsigned first = codec::ImplodeSortFirst(block, cursor, dictSize);
                // The same bytes as the last window slid on by one block, and the new block.
                LoadBlockWindow(*slid, input, block, dictSize);
                finder.SortTriples(first, last, block > 0);

                *fresh = codec::ImplodeWork{};
                LoadBlockWindow(*fresh, input, block, dictSize);
                codec::ImplodeMatchFinder(*fresh, dictSize).SortTriples(first, last);
                ASSERT_TRUE(std::equal(slid->awBucketStart,
                                       slid->awBucketStart + codec::IMPLODE_TRIPLE_HASHES + 1,
                                       fresh->awBucketStart));
                for (unsigned i = 0; i <= last - first; ++i)
                    ASSERT_EQ(codec::SortedPos(slid->abWindow, i),
                              codec::SortedPos(fresh->abWindow, i))
                        << "entry " << i;
            }
        }
    }
}
