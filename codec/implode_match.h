// Match finder of the compressor.
//
// A search at position p finds the longest match within the dictionary; of equal lengths the
// nearest, except that the first candidate in ascending position that reaches
// IMPLODE_MAX_MATCH ends the search (so of several such matches the farthest wins). Only
// positions of the block's sort range are candidates. The compressor's bytes follow from
// this result alone, not from the way the search gets there, so the finder has two ways:
//
// Pair buckets: once per block every position of the range is sorted by the hash of the two
// bytes it starts with (a counting sort: 4 * a + 5 * b has only 2296 values, and two pairs
// with the same hash and the same first byte are equal), ascending within one hash. This is
// the Windows program's own structure, and the sorted positions lie right behind the window,
// where a comparison at the very end of the input reads them as window bytes (see
// ImplodeWork::abWindow). The last block, where that can happen, is always searched this way.
//
// Triple buckets: the other blocks sort by a hash of the first three bytes instead (the
// counts per hash of the positions a block shares with the one before it are taken over from
// that block's sort, see SortTriples). A match of 3 or more bytes is then found among far
// fewer candidates; a match of exactly 2 bytes is only of use within 256 bytes (longer
// distances cannot be coded for it), and the token choice never uses one found by its
// look-ahead search. So the main search asks one
// more question when no longer match exists: the nearest position of the same pair within
// 256 bytes. Where most searches of the block before asked that, a filter (bitmaps of the
// hashes of the recent pairs, kept by the finder) rules most pairs out at once, and only
// when it cannot are those bytes searched; elsewhere the bytes are searched right away.
//
// A triple bucket is first tested four entries at a time, without a branch per entry, for
// any entry in reach that starts with p's three bytes (NoTripleInBucket); on incompressible
// data there mostly is none, and the scan is skipped. Where the block before found no triple
// for most of its searches, the sort also builds a filter of 2^17 bits that answers most of
// them before the bucket is touched (m_aTripleTwice). Within a bucket the scan is the same
// for both:
//   - each bucket's stored start moves past positions that fell out of reach, once, since the
//     searches of a block run at increasing positions;
//   - one 64-bit comparison of the first 8 bytes measures most candidates completely;
//   - once a match longer than 10 bytes is known, a long rest of the bucket is scanned like a
//     Knuth-Morris-Pratt text search for the first `best` bytes at p: the border table says
//     how much of the last comparison is known to be equal, candidates that cannot reach the
//     best length are passed over, and bytes already known equal are not compared again. A
//     short rest (IMPLODE_SHORT_REST entries) is measured candidate by candidate: building
//     the table costs more than the comparisons it would save there.
// And in a triple bucket, when p starts with a run of one byte value, the runs of that value
// in the bucket are measured once per run instead of once per position (FindInRun, and the
// skip in FindInBucket): zero-filled records and padding make such buckets long.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/implode.h"

namespace codec {

// The window positions ordered by hash are stored as 16-bit little-endian values right
// behind the window (see ImplodeWork::abWindow).
inline unsigned SortedPos(const std::uint8_t* window, unsigned index)
{
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "the sorted positions are loaded as 16-bit words");
    std::uint16_t v;
    std::memcpy(&v, window + IMPLODE_WINDOW_SIZE + 2 * index, 2);
    return v;
}

inline void SetSortedPos(std::uint8_t* window, unsigned index, unsigned pos)
{
    const auto v = static_cast<std::uint16_t>(pos);
    std::memcpy(window + IMPLODE_WINDOW_SIZE + 2 * index, &v, 2);
}

inline unsigned PairHash(const std::uint8_t* window, unsigned pos)
{
    return 4u * window[pos] + 5u * window[pos + 1];
}

inline std::uint32_t Load32(const std::uint8_t* at)
{
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// Multiplicative hash of the three bytes at pos (reads a fourth), IMPLODE_TRIPLE_HASHES
// values.
inline unsigned TripleHash(const std::uint8_t* window, unsigned pos)
{
    return ((Load32(window + pos) << 8) * 2654435761u) >> (32 - IMPLODE_TRIPLE_HASH_BITS);
}

// The filter of triples (see ImplodeMatchFinder::SortTriples) tells apart 64 values within
// each triple hash: the same product, 6 bits more of it. TripleFilterHash(w, p) >> 6 is
// TripleHash(w, p).
constexpr unsigned IMPLODE_TRIPLE_FILTER_BITS = IMPLODE_TRIPLE_HASH_BITS + 6;

inline unsigned TripleFilterHash(const std::uint8_t* window, unsigned pos)
{
    return ((Load32(window + pos) << 8) * 2654435761u) >> (32 - IMPLODE_TRIPLE_FILTER_BITS);
}

// Hash of the two bytes at pos for the filter of recent pairs: IMPLODE_RECENT_PAIR_SLOTS values. Spread
// more evenly than the pair hash of the sort, so fewer other pairs share a bit.
inline unsigned RecentPairSlot(const std::uint8_t* window, unsigned pos)
{
    std::uint16_t pair;
    std::memcpy(&pair, window + pos, 2);
    return (pair * 2654435761u) >> (32 - IMPLODE_RECENT_PAIR_BITS);
}

// Bytes that are zero in x get their high bit set, all other bits are clear.
inline std::uint64_t ZeroBytes(std::uint64_t x)
{
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((x & low7) + low7) | x) & ~low7;
}

inline std::uint64_t Load64(const std::uint8_t* at)
{
    std::uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}

// Index of the first differing byte of two 8-byte words loaded with Load64 (diff = a ^ b,
// not 0). The load is little-endian on the hosts we build for, so it is the lowest set byte.
inline unsigned FirstDifference(std::uint64_t diff)
{
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "byte order of the 8-byte comparisons");
    return static_cast<unsigned>(__builtin_ctzll(diff)) / 8;
}

// Number of equal leading bytes of a and b, at most `limit`, when the first `from` are known
// to be equal. Compares sixteen (with SSE2) or eight bytes at a time; never reads at or
// beyond offset `limit`.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned from,
                            unsigned limit)
{
    unsigned n = from;
#if defined(__SSE2__)
    while (n + 16 <= limit) {
        const auto equal = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n)))));
        if (equal != 0xFFFF)
            return n + static_cast<unsigned>(__builtin_ctz(~equal));
        n += 16;
    }
#endif
    while (n + 8 <= limit) {
        const std::uint64_t diff = Load64(a + n) ^ Load64(b + n);
        if (diff != 0)
            return n + FirstDifference(diff);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Number of bytes equal to z at at, at most limit, when the first `from` are known to be.
inline unsigned RunLength(const std::uint8_t* at, std::uint8_t z, unsigned from, unsigned limit)
{
    const std::uint64_t zs = z * 0x0101010101010101ull;
    unsigned n = from;
#if defined(__SSE2__)
    const __m128i zv = _mm_set1_epi8(static_cast<char>(z));
    while (n + 16 <= limit) {
        const auto equal = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + n)), zv)));
        if (equal != 0xFFFF)
            return n + static_cast<unsigned>(__builtin_ctz(~equal));
        n += 16;
    }
#endif
    while (n + 8 <= limit) {
        const std::uint64_t diff = Load64(at + n) ^ zs;
        if (diff != 0)
            return n + FirstDifference(diff);
        n += 8;
    }
    while (n < limit && at[n] == z)
        ++n;
    return n;
}

// Keeps any 16-bit value read as a sorted position within the window's array; window
// positions are below it.
constexpr unsigned SORTED_POS_MASK = 0x3FFF;

// The filter of triples is built for a block when at least this many searches of the block
// before it found no triple (a block has some 4096 to 5000 searches).
constexpr unsigned IMPLODE_TRIPLE_FILTER_USE = 1536;

// A long match's scan (ScanLong) measures the rest of a bucket candidate by candidate when no
// more than this many entries are left in it, and with the border table otherwise.
constexpr unsigned IMPLODE_SHORT_REST = 48;

// NearestPair keeps its filter of recent pairs for a block when at least this many searches
// of the block before it asked for a pair, or, where that block kept the filter, found no
// triple (a block has some 4096 to 5000 searches).
constexpr unsigned IMPLODE_RECENT_PAIR_USE = 1024;

// The shortest run at p that the triple buckets search run by run.
constexpr unsigned IMPLODE_RUN_SEARCH = 8;

class ImplodeMatchFinder {
public:
    ImplodeMatchFinder(ImplodeWork& work, unsigned dictSize)
        : m_pWindow(work.abWindow),
          m_pBucketStart(work.awBucketStart),
          m_pBorder(work.awBorder),
          m_pRecentPair(m_aRecentPair),
          m_nDictSize(dictSize)
    {
    }

    // Sorts the positions first..last (inclusive) by pair hash, ascending within one hash.
    // The last position's pair takes the byte behind it. Searches then use the pair buckets.
    void SortPairs(unsigned first, unsigned last)
    {
        std::uint8_t* const win = m_pWindow;
        std::uint16_t* const start = m_pBucketStart;
        m_bTriples = false;
        m_bTailCount = false;
        std::memset(start, 0, IMPLODE_PAIR_HASHES * sizeof start[0]);
        for (unsigned i = first; i <= last; ++i)
            ++start[PairHash(win, i)];
        SumCounts(IMPLODE_PAIR_HASHES);
        // From the last position down, so each bucket ends up ascending. The last position's
        // hash is taken before the first store, which may overwrite the byte behind it.
        for (unsigned i = last + 1; i-- > first;) {
            const unsigned index = --start[PairHash(win, i)];
            SetSortedPos(win, index, i);
        }
    }

    // Sorts the positions first..last by the hash of their first three bytes, ascending
    // within one hash; reads up to 3 bytes behind last, which must lie within the window.
    // Searches then use the triple buckets and the latest pair positions.
    //
    // follows: the window is the one of this finder's last sort, slid on by one block
    // (IMPLODE_BLOCK_SIZE), with nothing else changed. The positions from IMPLODE_BLOCK_SIZE on
    // of that sort are then the positions up to last - IMPLODE_BLOCK_SIZE of this one, and
    // their counts per hash are taken over instead of counted again (see m_aTailCount).
    void SortTriples(unsigned first, unsigned last, bool follows = false)
    {
        std::uint8_t* const win = m_pWindow;
        std::uint16_t* const start = m_pBucketStart;
        m_bTriples = true;
        m_nFirst = first;
        // The bitmaps of recent pairs cost an entry for nearly every position and the
        // clearing of 4 KB every 256 positions; they save a scan of up to 256 bytes per
        // search only where searches come close together and mostly find no match of 3
        // bytes, as in incompressible data. They are kept for a block when many of the last
        // block's searches asked for a pair; otherwise every ask scans the bytes at once.
        // Only the asks that scan at once are counted: with the bitmaps, where nearly every
        // search asks, even a count costs. Those blocks keep the bitmaps while many searches
        // find no triple (m_nNoTriple, counted anyway), as each of them asks or looks ahead.
        m_bRecentPairs = (m_bRecentPairs ? m_nNoTriple : m_nPairAsks) >= IMPLODE_RECENT_PAIR_USE;
        m_nPairAsks = 0;
        if (m_bRecentPairs) {
            m_nRecentUpTo = first;
            m_nRecentSpan = first;
            std::memset(m_pRecentPair, 0, sizeof m_aRecentPair);
        } else {
            m_nRecentUpTo = ~0u;
        }
        // The filter costs the sort a few steps per position and saves a search most of its
        // work only where most searches find no triple: it is built when most of the last
        // block's searches did not.
        m_bTripleFilter = m_nNoTriple >= IMPLODE_TRIPLE_FILTER_USE;
        m_nNoTriple = 0;
        // Positions from `tail` on are the ones the next block keeps; their counts go to
        // m_aTailCount on the way.
        constexpr unsigned tail = IMPLODE_BLOCK_SIZE;
        const bool reuse = follows && m_bTailCount && last == m_nTailLast && !m_bTripleFilter &&
                           first + tail <= last;
        m_bTailCount = false;
        // start: one entry more than there are hashes, the end of the last bucket.
        if (reuse) {
            // The last sort counted its positions tail..last, now 0..last - tail, which take in
            // first..last - tail: those below first are taken out again (no more than the
            // last block's overrun, up to IMPLODE_MAX_MATCH - 1).
            std::memcpy(start, m_aTailCount, IMPLODE_TRIPLE_HASHES * sizeof start[0]);
            start[IMPLODE_TRIPLE_HASHES] = 0;
            for (unsigned i = 0; i < first; ++i)
                --start[TripleHash(win, i)];
            const unsigned kept = last - tail; // the last position taken over
            CountTriples(kept + 1, std::min(last, tail - 1), start);
            std::memset(m_aTailCount, 0, sizeof m_aTailCount);
            CountTriples(std::max(kept + 1, tail), last, m_aTailCount);
            AddCounts(start, m_aTailCount);
            // With the largest dictionary the position at tail is one of those taken over.
            if (kept >= tail)
                ++m_aTailCount[TripleHash(win, tail)];
            m_bTailCount = true;
        } else if (m_bTripleFilter) {
            std::memset(start, 0, (IMPLODE_TRIPLE_HASHES + 1) * sizeof start[0]);
            std::uint64_t* const once = m_aTripleOnce;
            std::uint64_t* const twice = m_aTripleTwice;
            std::memset(once, 0, sizeof m_aTripleOnce);
            std::memset(twice, 0, sizeof m_aTripleTwice);
            for (unsigned i = first; i <= last; ++i) {
                const unsigned h = TripleFilterHash(win, i);
                const unsigned word = h >> 6;
                const std::uint64_t bit = std::uint64_t{1} << (h & 63);
                ++start[word];
                twice[word] |= once[word] & bit;
                once[word] |= bit;
            }
        } else {
            std::memset(start, 0, (IMPLODE_TRIPLE_HASHES + 1) * sizeof start[0]);
            CountTriples(first, std::min(last, tail - 1), start);
            if (first <= tail && tail <= last) {
                std::memset(m_aTailCount, 0, sizeof m_aTailCount);
                CountTriples(tail, last, m_aTailCount);
                AddCounts(start, m_aTailCount);
                m_bTailCount = true;
            } else {
                CountTriples(std::max(first, tail), last, start);
            }
        }
        m_nTailLast = last;
        SumCounts(IMPLODE_TRIPLE_HASHES + 1);
        // The same for the placement: a run of one hash fills consecutive entries.
        unsigned hash = TripleHash(win, last);
        unsigned index = start[hash];
        for (unsigned i = last + 1; i-- > first;) {
            const unsigned next = TripleHash(win, i);
            if (next != hash) {
                start[hash] = static_cast<std::uint16_t>(index);
                hash = next;
                index = start[hash];
            }
            --index;
            SetSortedPos(win, index, i);
        }
        start[hash] = static_cast<std::uint16_t>(index);
    }

    // Whether this block's pair searches use the filter of recent pairs (see NearestPair).
    bool KeepsRecentPairs() const { return m_bRecentPairs; }

    // Takes over what another finder's searches in the block before this finder's next one
    // found, which decides the filters that block's sort sets up (the triple filter and the
    // filter of recent pairs). Only the speed of the searches depends on it.
    void TakeSearchCounts(const ImplodeMatchFinder& other)
    {
        m_nNoTriple = other.m_nNoTriple;
        m_nPairAsks = other.m_nPairAsks;
        m_bRecentPairs = other.m_bRecentPairs;
    }

    // Searches the best match for position p and returns its length, with distance - 1 in
    // distance1; 0 when there is none (no candidate, or none longer than 1).
    //
    // With the triple buckets a match of exactly 2 bytes is reported only if it lies within
    // 256 bytes and `lookAhead` is false; otherwise it is reported as none. The token choice
    // treats both alike: such a match is coded as literals, and a look-ahead result shorter
    // than 3 never displaces the match at p.
    unsigned Find(unsigned p, unsigned& distance1, bool lookAhead)
    {
        return m_bTriples ? FindIn<true>(p, distance1, lookAhead)
                          : FindIn<false>(p, distance1, lookAhead);
    }

    // Find for a caller that knows how the block was sorted (kTriples: SortTriples).
    template <bool kTriples>
    __attribute__((always_inline)) unsigned FindIn(unsigned p, unsigned& distance1, bool lookAhead)
    {
        const std::uint8_t* const win = m_pWindow;
        const std::uint8_t* const at = win + p;
        const unsigned filterHash = kTriples ? TripleFilterHash(win, p) : 0;
        const unsigned hash = kTriples ? filterHash >> 6 : PairHash(win, p);
        // Candidates lie in lowest..p-2: c is one when c - lowest < span (unsigned).
        const unsigned lowest = p - (m_nDictSize - 1);
        const unsigned span = m_nDictSize - 2;

        if (kTriples && m_bTripleFilter && ((m_aTripleTwice[hash] >> (filterHash & 63)) & 1) == 0) {
            // p is the only position of the sort range with its filter value: no other
            // starts with its three bytes. (The bucket's stored start is not moved on; a
            // later search of the bucket does that.)
            ++m_nNoTriple;
            return NoMatch(p, distance1, lookAhead);
        }
        // The bucket runs up to the next bucket's stored start. Between this bucket's last
        // position and that start there may be positions the next bucket has passed over;
        // they are out of reach now too, so the range test below stops there.
        const unsigned end = m_pBucketStart[hash + 1];
        unsigned index = m_pBucketStart[hash];
        if (kTriples) {
            // Mostly none or one or two entries fell out of reach since the bucket's last
            // search, a number no branch predicts: two steps are taken without a branch.
            // (The entry at end still lies within the sorted positions of a triple block.)
            index += static_cast<unsigned>(index < end) &
                     static_cast<unsigned>(SortedPos(win, index) < lowest);
            index += static_cast<unsigned>(index < end) &
                     static_cast<unsigned>(SortedPos(win, index) < lowest);
        }
        if (index < end && SortedPos(win, index) < lowest)
            index = SkipOutOfReach(index, end, lowest);
        m_pBucketStart[hash] = static_cast<std::uint16_t>(index);

        // A triple bucket may also hold other triples of the same hash; they are measured
        // like the rest and fall short of 3 bytes.
        unsigned best = kTriples ? 3 : 2;
        unsigned bestPos = 0;
        // p's run: the bytes equal to its first, when the first three are (triple buckets).
        const unsigned run = kTriples && at[1] == at[0] && at[2] == at[0]
                                 ? RunLength(at, at[0], 3, IMPLODE_MAX_MATCH)
                                 : 0;
        const bool noTriple =
            kTriples && run == 0 && NoTripleInBucket(at, index, end, lowest, span);
        if (kTriples && noTriple) {
            ++m_nNoTriple;
            return NoMatch(p, distance1, lookAhead);
        }
        const bool found =
            noTriple                    ? false
            : run >= IMPLODE_RUN_SEARCH ? FindInRun(at, p, run, index, end, lowest, best, bestPos)
            : run != 0 ? FindInBucket<true>(at, p, run, index, end, lowest, span, best, bestPos)
                       : FindInBucket<false>(at, p, run, index, end, lowest, span, best, bestPos);
        if (!found) {
            if (!kTriples || lookAhead)
                return 0;
            bestPos = NearestPair(p, lowest);
            if (bestPos == 0)
                return 0;
            best = 2;
        }
        distance1 = p - bestPos - 1;
        return best;
    }

private:
    // The first index from `index` on that is at end or holds a position within reach (at
    // least lowest). The positions out of reach are a prefix of index..end (see FindIn). After
    // a long match many of them fall out of reach at once (long buckets of records that repeat
    // themselves): eight are tested at a time.
    __attribute__((noinline)) unsigned SkipOutOfReach(unsigned index, unsigned end,
                                                      unsigned lowest) const
    {
        const std::uint8_t* const win = m_pWindow;
#if defined(__SSE2__)
        static_assert(IMPLODE_WINDOW_SIZE < 0x8000, "positions compare as signed 16-bit values");
        const __m128i lowests = _mm_set1_epi16(static_cast<short>(lowest));
        // Eight entries from index lie within the sorted positions while index + 8 is within
        // their count; entries behind end are read but not counted.
        while (index < end && index + 8 <= IMPLODE_WINDOW_SIZE) {
            const __m128i entries = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(win + IMPLODE_WINDOW_SIZE + 2 * index));
            const auto inReach =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi16(entries, lowests))) ^
                0xFFFFu;
            if (inReach != 0) {
                const unsigned passed = static_cast<unsigned>(__builtin_ctz(inReach)) / 2;
                return std::min(index + passed, end);
            }
            index += 8;
        }
        if (index >= end)
            return end;
#endif
        while (index < end && SortedPos(win, index) < lowest)
            ++index;
        return index;
    }

    // The result of a triple search that found no match of 3 or more bytes: a pair within
    // 256 bytes, or none (see Find).
    __attribute__((always_inline)) unsigned NoMatch(unsigned p, unsigned& distance1, bool lookAhead)
    {
        if (lookAhead)
            return 0;
        const unsigned bestPos = NearestPair(p, p - (m_nDictSize - 1));
        if (bestPos == 0)
            return 0;
        distance1 = p - bestPos - 1;
        return 2;
    }

    // Whether none of the triple bucket's entries in reach starts with p's three bytes, so
    // that no match of 3 or more exists. The entries are tested four at a time without a
    // branch per entry: on incompressible data most buckets hold a few positions in reach
    // and none of them matches, and the end of a scan entry by entry is a branch that
    // cannot be predicted. Four entries hold all the rest of the bucket's in reach when the
    // bucket ends within them or the fourth is out of reach already (the bucket ascends
    // from its first entry in reach, so those in reach come first). When it answers false
    // the bucket is scanned as usual, from its start.
    __attribute__((always_inline)) bool NoTripleInBucket(const std::uint8_t* at, unsigned index,
                                                         unsigned end, unsigned lowest,
                                                         unsigned span) const
    {
        static_assert(IMPLODE_MAX_DICT + IMPLODE_BLOCK_SIZE + 4 <= IMPLODE_WINDOW_SIZE,
                      "four entries from below a bucket's end lie within the sorted positions");
        static_assert(IMPLODE_WINDOW_SIZE <= SORTED_POS_MASK &&
                          SORTED_POS_MASK + 4 <= 2 * IMPLODE_WINDOW_SIZE,
                      "a masked position's bytes lie within the window's array");
        const std::uint8_t* const win = m_pWindow;
        const std::uint32_t head = Load32(at) & 0xFFFFFFu;
        // Entries behind the bucket's end are read too and masked out by k < n (lane k < n).
        // They may hold anything the work area held before, so the position is masked to keep
        // its bytes within the window's array; real positions are not changed by the mask.
#if defined(__SSE2__)
        // The four tests side by side in 32-bit lanes; only the window loads stay scalar.
        const __m128i heads = _mm_set1_epi32(static_cast<int>(head));
        const __m128i low24 = _mm_set1_epi32(0xFFFFFF);
        const __m128i posMask = _mm_set1_epi32(SORTED_POS_MASK);
        const __m128i lowests = _mm_set1_epi32(static_cast<int>(lowest));
        // c - lowest < span, unsigned, as a signed comparison with both sides biased.
        const __m128i bias = _mm_set1_epi32(static_cast<int>(0x80000000u));
        const __m128i spans = _mm_set1_epi32(static_cast<int>(span ^ 0x80000000u));
        const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
        for (;; index += 4) {
            const unsigned n = end - index;
            std::uint64_t four;
            std::memcpy(&four, win + IMPLODE_WINDOW_SIZE + 2 * index, 8);
            const __m128i cs =
                _mm_and_si128(_mm_unpacklo_epi16(_mm_cvtsi64_si128(static_cast<long long>(four)),
                                                 _mm_setzero_si128()),
                              posMask);
            const unsigned c3 = static_cast<unsigned>(four >> 48) & SORTED_POS_MASK;
            const __m128i words = _mm_setr_epi32(
                static_cast<int>(Load32(win + (static_cast<unsigned>(four) & SORTED_POS_MASK))),
                static_cast<int>(
                    Load32(win + (static_cast<unsigned>(four >> 16) & SORTED_POS_MASK))),
                static_cast<int>(
                    Load32(win + (static_cast<unsigned>(four >> 32) & SORTED_POS_MASK))),
                static_cast<int>(Load32(win + c3)));
            const __m128i equal = _mm_cmpeq_epi32(_mm_and_si128(words, low24), heads);
            const __m128i inReach =
                _mm_cmplt_epi32(_mm_xor_si128(_mm_sub_epi32(cs, lowests), bias), spans);
            const __m128i inBucket = _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int>(n)), lanes);
            if (_mm_movemask_ps(
                    _mm_castsi128_ps(_mm_and_si128(_mm_and_si128(equal, inReach), inBucket))) != 0)
                return false;
            if (!(n > 4 && c3 - lowest < span))
                return true;
        }
#else
        for (;; index += 4) {
            const unsigned n = end - index;
            unsigned hits = 0;
            unsigned inReach = 0;
            for (unsigned k = 0; k < 4; ++k) {
                const unsigned c = SortedPos(win, index + k) & SORTED_POS_MASK;
                const unsigned equal = ((Load32(win + c) ^ head) & 0xFFFFFFu) == 0;
                inReach = static_cast<unsigned>(c - lowest < span);
                hits |= static_cast<unsigned>(k < n) & inReach & equal;
            }
            if (hits != 0)
                return false;
            // inReach: the fourth entry's.
            if ((static_cast<unsigned>(n > 4) & inReach) == 0)
                return true;
        }
#endif
    }

    // The scan of a bucket from index on; best holds the shortest length that counts (2 or
    // 3) and becomes the result. Returns whether any candidate reached it.
    // run: the length of p's run when the bucket is a triple bucket and p starts with three
    // equal bytes, else 0.
    // Inlined into Find: it runs for nearly every position, and a call costs more there than
    // the scan of a short bucket.
    // kRun: whether run is not 0; the common scan then has no test for it.
    template <bool kRun>
    __attribute__((always_inline)) bool
    FindInBucket(const std::uint8_t* at, unsigned p, unsigned run, unsigned index, unsigned end,
                 unsigned lowest, unsigned span, unsigned& best, unsigned& bestPos)
    {
        const std::uint8_t* const win = m_pWindow;
        const std::uint64_t runBytes = at[0] * 0x0101010101010101ull;
        // Below 11 bytes every candidate is measured; the first 8 bytes in one 64-bit
        // comparison settle most of them. Ties go to the later, nearer candidate.
        const std::uint64_t head = Load64(at);
        bool found = false;
        for (; index < end; ++index) {
            unsigned c = SortedPos(win, index);
            if (c - lowest >= span)
                break;
            const std::uint64_t word = Load64(win + c);
            unsigned len;
            if (kRun && word == runBytes) {
                // p has a short run (fewer than 8 bytes) and c starts a longer one of the
                // same byte. The positions of c's run follow each other in the bucket: those
                // with more bytes left than p's run match exactly `run` bytes, the one with
                // exactly `run` left matches at least that many, and the ones after it fewer.
                // So, as the scan would find position by position, only the one with exactly
                // `run` left can count; or, when it is out of reach, the nearest in reach.
                const unsigned R = RunLength(win + c, at[0], 8, p + IMPLODE_MAX_MATCH - c);
                if (c + (R - run) > p - 2) {
                    if (run >= best) {
                        best = run;
                        bestPos = p - 2;
                        found = true;
                    }
                    break;
                }
                index += R - 3; // the run's last position in the bucket
                c += R - run;
                len = MatchLength(win + c, at, run, IMPLODE_MAX_MATCH);
            } else {
                const std::uint64_t diff = word ^ head;
                len = diff != 0 ? FirstDifference(diff)
                                : MatchLength(win + c, at, 8, IMPLODE_MAX_MATCH);
            }
            if (len < best)
                continue;
            best = len;
            bestPos = c;
            found = true;
            if (best > 10) {
                best = ScanLong(at, kRun ? run : 0, index + 1, end, lowest, span, best, bestPos);
                break;
            }
        }
        return found;
    }

    // The scan of a triple bucket for a position p that starts a run of r >=
    // IMPLODE_RUN_SEARCH bytes of one value z. (For shorter runs the bucket's runs tend to be
    // short as well, and measuring position by position is cheaper; FindInBucket skips the
    // long ones.) The bucket then holds the runs of z in reach, each run as consecutive
    // positions (every position of a run but its last two starts z z z), and other triples
    // of the same hash, which cannot match 3 bytes.
    //
    // Along one run the lengths are known without comparing each position: with r bytes z at
    // p and R at a candidate, the length is R when R < r, r when R > r, and r plus whatever
    // follows both runs when R = r. So each run takes one measurement, and its best
    // position, by the same rules, stands for all of its positions.
    bool FindInRun(const std::uint8_t* at, unsigned p, unsigned r, unsigned index, unsigned end,
                   unsigned lowest, unsigned& best, unsigned& bestPos)
    {
        const std::uint8_t* const win = m_pWindow;
        const std::uint8_t z = at[0];
        const std::uint64_t zs = z * 0x0101010101010101ull;
        bool found = false;
        while (index < end) {
            const unsigned c = SortedPos(win, index);
            if (c < lowest || c + 2 > p)
                break;
            // The run from c, counted no further than 516 bytes past p: enough to tell R
            // from r for every position of the run up to p - 2, and all within the window.
            // Fewer than 3 bytes z: another triple of the same hash.
            const std::uint64_t diff = Load64(win + c) ^ zs;
            const unsigned R = diff != 0 ? FirstDifference(diff)
                                         : RunLength(win + c, z, 8, p + IMPLODE_MAX_MATCH - c);
            if (R < 3) {
                ++index;
                continue;
            }
            const unsigned last = std::min(p - 2 - c, R - 3); // positions c .. c + last
            unsigned len;
            unsigned k;
            if (R < r) {
                len = R; // the longest of this run, at its start
                k = 0;
            } else if (r == IMPLODE_MAX_MATCH) {
                len = r; // the first position already reaches the maximum
                k = 0;
            } else if (R - r <= last) {
                k = R - r; // the position with exactly r bytes z left
                // It can only count if it has the byte that reaches the best so far.
                if (win[c + k + best - 1] != at[best - 1]) {
                    index += last + 1;
                    continue;
                }
                len = MatchLength(win + c + k, at, r, IMPLODE_MAX_MATCH);
            } else {
                len = r; // all positions up to p - 2 have more than r left: the last one
                k = last;
            }
            if (len >= best) {
                best = len;
                bestPos = c + k;
                found = true;
                if (len == IMPLODE_MAX_MATCH)
                    break;
            }
            index += last + 1;
        }
        return found;
    }

    // Adds the positions from..to (none when from > to) to counts, per triple hash.
    // Neighbouring positions often share a hash (runs of one byte value, padding): their
    // count is kept in a register until the hash changes, instead of going through memory
    // once per position.
    void CountTriples(unsigned from, unsigned to, std::uint16_t* counts) const
    {
        if (from > to)
            return;
        const std::uint8_t* const win = m_pWindow;
        unsigned hash = TripleHash(win, from);
        unsigned count = 0;
        for (unsigned i = from; i <= to; ++i) {
            const unsigned next = TripleHash(win, i);
            if (next != hash) {
                counts[hash] = static_cast<std::uint16_t>(counts[hash] + count);
                hash = next;
                count = 0;
            }
            ++count;
        }
        counts[hash] = static_cast<std::uint16_t>(counts[hash] + count);
    }

    // counts[h] += more[h] for every triple hash h.
    static void AddCounts(std::uint16_t* counts, const std::uint16_t* more)
    {
        for (unsigned h = 0; h < IMPLODE_TRIPLE_HASHES; ++h)
            counts[h] = static_cast<std::uint16_t>(counts[h] + more[h]);
    }

    // Turns the counts of the first n buckets into each bucket's end (running sums); the
    // placement then counts them down to each bucket's start.
    void SumCounts(unsigned n)
    {
        std::uint16_t* const start = m_pBucketStart;
        unsigned sum = 0;
        for (unsigned h = 0; h < n; ++h) {
            sum += start[h];
            start[h] = static_cast<std::uint16_t>(sum);
        }
    }

    // The nearest position c of p's pair with c >= p - 256, within reach and in the sort
    // range; 0 when there is none. Asked at increasing positions p.
    //
    // m_aRecentPair holds two bitmaps over the hash of a pair, which together hold every
    // position from p - 256 up to p - 1 (and maybe a few older ones): see AddRecentPairs. If
    // neither has p's bit, no position there holds p's pair; otherwise those bytes are
    // searched, nearest first.
    //
    // On incompressible data this is asked at nearly every position and the filter nearly
    // always answers: that part is inlined into the search, with the common case of nothing
    // to enter (the previous search was at p - 1) and no span to change; the rest is not.
    __attribute__((always_inline)) unsigned NearestPair(unsigned p, unsigned lowest)
    {
        const std::uint8_t* const win = m_pWindow;
        std::uint8_t* const bitmaps = m_pRecentPair;
        constexpr unsigned half = IMPLODE_RECENT_PAIR_SLOTS / 8;
        // Without the bitmaps m_nRecentUpTo is never a position, so that the test for them
        // costs the searches that use them nothing.
        std::uint8_t* current;
        if (m_nRecentUpTo == p && p - m_nRecentSpan < IMPLODE_RECENT_PAIR_SPAN) {
            current = bitmaps + m_nRecentHalf;
        } else {
            if (!m_bRecentPairs) {
                ++m_nPairAsks;
                return ScanForPair(p, lowest);
            }
            current = AddRecentPairs(p);
        }

        const unsigned slot = RecentPairSlot(win, p);
        const unsigned byte = slot >> 3;
        const unsigned bit = 1u << (slot & 7);
        const bool maybe = ((bitmaps[byte] | bitmaps[half + byte]) & bit) != 0;
        // p itself is entered now, for the searches to come.
        current[byte] = static_cast<std::uint8_t>(current[byte] | bit);
        m_nRecentUpTo = p + 1;
        if (!maybe)
            return 0;
        return ScanForPair(p, lowest);
    }

    // The search of NearestPair behind its filter.
    __attribute__((noinline)) unsigned ScanForPair(unsigned p, unsigned lowest) const
    {
        const std::uint8_t* const win = m_pWindow;
        unsigned floor = p - IMPLODE_MAX_DIST1_LEN2 - 1;
        if (floor < lowest)
            floor = lowest;
        if (floor < m_nFirst)
            floor = m_nFirst;
        const std::uint8_t a = win[p];
        const std::uint8_t b = win[p + 1];
        // Positions below c, nearest first, eight at a time. A position holds the pair when
        // its byte is a and the next is b.
        unsigned c = p - 1;
#if defined(__SSE2__)
        // Sixteen at a time where the vector unit is at hand (every x86-64 host).
        const __m128i as = _mm_set1_epi8(static_cast<char>(a));
        const __m128i bs = _mm_set1_epi8(static_cast<char>(b));
        while (c >= floor + 16) {
            c -= 16; // positions c .. c + 15
            const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(win + c));
            const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(win + c + 1));
            const auto hits = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(first, as), _mm_cmpeq_epi8(second, bs))));
            if (hits != 0)
                return c + 31 - static_cast<unsigned>(__builtin_clz(hits));
        }
#endif
        const std::uint64_t ones = 0x0101010101010101ull;
        while (c >= floor + 8) {
            c -= 8; // positions c .. c + 7
            const std::uint64_t hits = ZeroBytes(Load64(win + c) ^ (a * ones)) &
                                       ZeroBytes(Load64(win + c + 1) ^ (b * ones));
            if (hits != 0)
                return c + (63 - static_cast<unsigned>(__builtin_clzll(hits))) / 8;
        }
        while (c-- > floor) {
            if (win[c] == a && win[c + 1] == b)
                return c;
        }
        return 0;
    }

    // Enters the pairs of the positions below p that are not yet in the bitmaps, and
    // returns the bitmap of the current span, where p's pair goes next.
    //
    // A position goes into the bitmap of the span of searches during which it is entered
    // (at the search at p at the latest). When the searches pass the end of a span, the
    // span before it is cleared and becomes the current one: a position is cleared no
    // sooner than 256 searches after it was entered, when it is out of reach for length 2.
    // After a gap of two spans without a search both are cleared, and the 256 positions
    // before p are entered afresh.
    __attribute__((noinline)) std::uint8_t* AddRecentPairs(unsigned p)
    {
        // Locals: the bitmap stores could otherwise alias the members and force reloads.
        const std::uint8_t* const win = m_pWindow;
        std::uint8_t* const bitmaps = m_pRecentPair;
        constexpr unsigned half = IMPLODE_RECENT_PAIR_SLOTS / 8;
        unsigned q = m_nRecentUpTo;
        unsigned currentHalf = m_nRecentHalf;
        if (p >= m_nRecentSpan + 2 * IMPLODE_RECENT_PAIR_SPAN) {
            std::memset(bitmaps, 0, 2 * half);
            m_nRecentSpan = p;
        } else if (p >= m_nRecentSpan + IMPLODE_RECENT_PAIR_SPAN) {
            currentHalf ^= half;
            std::memset(bitmaps + currentHalf, 0, half);
            m_nRecentSpan += IMPLODE_RECENT_PAIR_SPAN;
            m_nRecentHalf = currentHalf;
        }
        // Only the positions from p - 256 on can be asked for (from any search at p or
        // later); older ones not yet entered are left out.
        if (q + IMPLODE_RECENT_PAIR_SPAN < p)
            q = p - IMPLODE_RECENT_PAIR_SPAN;
        if (q < m_nFirst)
            q = m_nFirst;
        std::uint8_t* const current = bitmaps + currentHalf;
        for (; q < p; ++q) {
            const unsigned slot = RecentPairSlot(win, q);
            current[slot >> 3] = static_cast<std::uint8_t>(current[slot >> 3] | (1u << (slot & 7)));
        }
        return current;
    }

    // Fills border[from + 1 .. len] for the pattern at[0..len-1]: border[i] is the length of
    // the longest proper prefix of at[0..i-1] that is also its suffix, border[0] = -1. With
    // from = 0 the table is built afresh; otherwise it is extended past from, which must be
    // its current end.
    void ExtendBorders(const std::uint8_t* at, unsigned from, unsigned len)
    {
        std::int16_t* const border = m_pBorder;
        int k;
        unsigned i;
        if (from == 0) {
            border[0] = -1;
            k = -1;
            i = 0;
        } else {
            i = from;
            k = border[i];
        }
        while (i < len) {
            while (k >= 0 && at[k] != at[i])
                k = border[k];
            ++i;
            ++k;
            border[i] = static_cast<std::int16_t>(k);
        }
    }

    // The rest of the bucket once a match of best > 10 bytes at bestPos is known. Returns the
    // best length; bestPos is updated. run: as for FindInBucket, or 0.
    unsigned ScanLong(const std::uint8_t* at, unsigned run, unsigned index, unsigned end,
                      unsigned lowest, unsigned span, unsigned best, unsigned& bestPos)
    {
        if (best == IMPLODE_MAX_MATCH)
            return best;
        const std::uint8_t* const win = m_pWindow;
        const std::int16_t* const border = m_pBorder;
        const std::uint64_t runBytes = at[0] * 0x0101010101010101ull;
        if (run == 0 && end - index <= IMPLODE_SHORT_REST) {
            // Few candidates left: each is measured outright, which costs less than the
            // border table, whose cost grows with the best length.
            for (; index < end; ++index) {
                const unsigned c = SortedPos(win, index);
                if (c - lowest >= span)
                    break;
                const std::uint8_t* const cand = win + c;
                if (cand[best - 1] != at[best - 1])
                    continue; // shorter than the best
                const unsigned len = MatchLength(cand, at, 0, IMPLODE_MAX_MATCH);
                if (len >= best) {
                    best = len;
                    bestPos = c;
                    if (best == IMPLODE_MAX_MATCH)
                        break;
                }
            }
            return best;
        }
        ExtendBorders(at, 0, best);
        // e: window position where the last comparison stopped; m: bytes known equal before it.
        unsigned e = bestPos + best;
        unsigned m = best;
        for (;; ++index) {
            const int b = border[m];
            m = b < 0 ? 0u : static_cast<unsigned>(b);
            unsigned c;
            for (;; ++index) {
                if (index >= end)
                    return best;
                c = SortedPos(win, index);
                if (c - lowest >= span)
                    return best;
                if (c + m >= e)
                    break;
            }
            const std::uint8_t* cand = win + c;
            if (cand[best - 2] != at[best - 2]) {
                for (;;) {
                    if (++index >= end)
                        return best;
                    c = SortedPos(win, index);
                    if (c - lowest >= span)
                        return best;
                    cand = win + c;
                    if (run != 0 && Load64(cand) == runBytes) {
                        // A longer run of p's first byte, as in FindInBucket: of its
                        // positions only the one with exactly `run` bytes of it left can
                        // match more than `run` bytes, fewer than the best.
                        const unsigned p = static_cast<unsigned>(at - win);
                        const unsigned R = RunLength(cand, at[0], 8, p + IMPLODE_MAX_MATCH - c);
                        if (c + (R - run) > p - 2)
                            return best;
                        index += R - 3; // the run's last position in the bucket
                        c += R - run;
                        cand = win + c;
                    }
                    if (cand[best - 2] == at[best - 2] && cand[0] == at[0] && cand[1] == at[1])
                        break;
                }
                m = 2;
            } else if (c + m > e) {
                m = 0;
            }
            m = MatchLength(cand, at, m, IMPLODE_MAX_MATCH);
            e = c + m;
            if (m >= best) {
                bestPos = c;
                if (m > best) {
                    if (m == IMPLODE_MAX_MATCH)
                        return m;
                    ExtendBorders(at, best, m);
                    best = m;
                }
            }
        }
    }

    std::uint8_t* m_pWindow;
    std::uint16_t* m_pBucketStart;
    std::int16_t* m_pBorder;
    std::uint8_t* m_pRecentPair;
    unsigned m_nDictSize;
    bool m_bTriples = false;
    unsigned m_nFirst = 0; // start of the sort range
    // The filter of triples, built by SortTriples when m_bTripleFilter: bit v of word h of
    // m_aTripleOnce is set when a position of the sort range has TripleFilterHash
    // 64 * h + v, of m_aTripleTwice when two or more have.
    bool m_bTripleFilter = false;
    unsigned m_nNoTriple = 0; // searches of the block that found no triple
    // The counts per triple hash of the last triple sort's positions from IMPLODE_BLOCK_SIZE
    // to its last, m_nTailLast, when m_bTailCount (the sort covered all of them and was no
    // pair sort).
    bool m_bTailCount = false;
    unsigned m_nTailLast = 0;
    std::uint16_t m_aTailCount[IMPLODE_TRIPLE_HASHES];
    std::uint64_t m_aTripleOnce[IMPLODE_TRIPLE_HASHES];
    std::uint64_t m_aTripleTwice[IMPLODE_TRIPLE_HASHES];
    // Whether NearestPair keeps and asks the bitmaps of recent pairs in this block, and how
    // many times it was asked in this block without them.
    bool m_bRecentPairs = false;
    unsigned m_nPairAsks = 0;
    unsigned m_nRecentUpTo = 0; // positions below this are in m_aRecentPair (~0u: not kept)
    unsigned m_nRecentSpan = 0; // first position of the current span of m_aRecentPair
    unsigned m_nRecentHalf = 0; // offset of the current span's bitmap in m_aRecentPair
    // The two bitmaps of recent pairs (see NearestPair).
    std::uint8_t m_aRecentPair[2 * IMPLODE_RECENT_PAIR_SLOTS / 8];
};

} // namespace codec
