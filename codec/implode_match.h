// Match finder of the compressor.
//
// Once per block, every window position of the block's range is sorted by the hash of the two
// bytes it starts with (a counting sort: the hash 4 * a + 5 * b has only 2296 values, and two
// pairs with the same hash and the same first byte are equal). A search at position p then
// only looks at p's bucket, whose positions ascend, and finds the longest match within the
// dictionary; of equal lengths it takes the nearest, but the first candidate that reaches
// IMPLODE_MAX_MATCH ends the search. Three things keep the search cheap:
//   - each bucket's stored start moves past positions that fell out of reach, once, since the
//     searches of a block run at increasing positions;
//   - a candidate is compared only when the byte that would extend the best match so far and
//     its first byte agree;
//   - once a match longer than 10 bytes is known, the rest of the bucket is scanned like a
//     Knuth-Morris-Pratt text search for the first `best` bytes at p: the border table says
//     how much of the last comparison is known to be equal, candidates that cannot reach the
//     best length are passed over, and bytes already known equal are not compared again.
// The result is fixed by the definition (longest, nearest, first to reach the maximum), so
// the compressor's bytes do not depend on how the scan gets there.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/implode.h"

namespace codec {

// The window positions ordered by pair hash are stored as 16-bit little-endian values right
// behind the window (see ImplodeWork::abWindow).
inline unsigned SortedPos(const std::uint8_t* window, unsigned index)
{
    const std::uint8_t* at = window + IMPLODE_WINDOW_SIZE + 2 * index;
    return static_cast<unsigned>(at[0]) | (static_cast<unsigned>(at[1]) << 8);
}

inline void SetSortedPos(std::uint8_t* window, unsigned index, unsigned pos)
{
    std::uint8_t* at = window + IMPLODE_WINDOW_SIZE + 2 * index;
    at[0] = static_cast<std::uint8_t>(pos);
    at[1] = static_cast<std::uint8_t>(pos >> 8);
}

inline unsigned PairHash(const std::uint8_t* window, unsigned pos)
{
    return 4u * window[pos] + 5u * window[pos + 1];
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
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte order of the 8-byte comparisons");
    return static_cast<unsigned>(__builtin_ctzll(diff)) / 8;
}

// Number of equal leading bytes of a and b, at most `limit`, when the first `from` are known
// to be equal. Compares eight bytes at a time; never reads at or beyond offset `limit`.
inline unsigned MatchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned from, unsigned limit)
{
    unsigned n = from;
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

class ImplodeMatchFinder {
public:
    ImplodeMatchFinder(ImplodeWork& work, unsigned dictSize)
        : m_pWindow(work.abWindow), m_pPairStart(work.awPairStart), m_pBorder(work.awBorder),
          m_nDictSize(dictSize)
    {
    }

    // Sorts the positions first..last (inclusive) by pair hash, ascending within one hash.
    // The last position's pair takes the byte behind it.
    void SortPairs(unsigned first, unsigned last)
    {
        std::uint8_t* const win = m_pWindow;
        std::uint16_t* const start = m_pPairStart;
        std::memset(start, 0, IMPLODE_PAIR_HASHES * sizeof start[0]);
        for (unsigned i = first; i <= last; ++i)
            ++start[PairHash(win, i)];
        unsigned sum = 0;
        for (unsigned h = 0; h < IMPLODE_PAIR_HASHES; ++h) {
            sum += start[h];
            start[h] = static_cast<std::uint16_t>(sum);
        }
        // From the last position down, so each bucket ends up ascending. The last position's
        // hash is taken before the first store, which may overwrite the byte behind it.
        for (unsigned i = last + 1; i-- > first;) {
            const unsigned index = --start[PairHash(win, i)];
            SetSortedPos(win, index, i);
        }
    }

    // Searches the best match for position p. Returns its length (0 when there is none: no
    // candidate, or none longer than 1) and stores distance - 1 in distance1.
    unsigned Find(unsigned p, unsigned& distance1)
    {
        const std::uint8_t* const win = m_pWindow;
        const std::uint8_t* const at = win + p;
        const unsigned hash = PairHash(win, p);
        // Candidates lie in lowest..p-2: c is one when c - lowest < span (unsigned).
        const unsigned lowest = p - (m_nDictSize - 1);
        const unsigned span = m_nDictSize - 2;

        // The bucket runs up to the next bucket's stored start. Between this bucket's last
        // position and that start there may be positions the next bucket has passed over;
        // they are out of reach now too, so the range test below stops there.
        const unsigned end = m_pPairStart[hash + 1];
        unsigned index = m_pPairStart[hash];
        while (index < end && SortedPos(win, index) < lowest)
            ++index;
        m_pPairStart[hash] = static_cast<std::uint16_t>(index);

        // Below 11 bytes every candidate is measured; the first 8 bytes in one 64-bit
        // comparison settle most of them. best starts at 2, the shortest match; ties go to
        // the later, nearer candidate.
        const std::uint64_t head = Load64(at);
        unsigned best = 2;
        unsigned bestPos = 0;
        bool found = false;
        for (; index < end; ++index) {
            const unsigned c = SortedPos(win, index);
            if (c - lowest >= span)
                break;
            const std::uint64_t diff = Load64(win + c) ^ head;
            const unsigned len =
                diff != 0 ? FirstDifference(diff) : MatchLength(win + c, at, 8, IMPLODE_MAX_MATCH);
            if (len < best)
                continue;
            best = len;
            bestPos = c;
            found = true;
            if (best > 10) {
                best = ScanLong(at, index + 1, end, lowest, span, best, bestPos);
                break;
            }
        }
        if (!found)
            return 0;
        distance1 = p - bestPos - 1;
        return best;
    }

private:
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
    // best length; bestPos is updated.
    unsigned ScanLong(const std::uint8_t* at, unsigned index, unsigned end, unsigned lowest,
                      unsigned span, unsigned best, unsigned& bestPos)
    {
        if (best == IMPLODE_MAX_MATCH)
            return best;
        const std::uint8_t* const win = m_pWindow;
        const std::int16_t* const border = m_pBorder;
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
                    if (cand[best - 2] == at[best - 2] && cand[0] == at[0])
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
    std::uint16_t* m_pPairStart;
    std::int16_t* m_pBorder;
    unsigned m_nDictSize;
};

} // namespace codec
