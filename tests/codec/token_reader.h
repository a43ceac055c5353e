// A token reader for implode streams: the compressor's tests read back which tokens it chose
// (literals, matches with their lengths and distances), which the real decompressor does not
// tell. The bytes themselves are checked with explode.
//
// It is deliberately plain: whole stream in memory, one bit at a time, prefix codes looked up
// by (bit count, value) in tables built from codec/tables.h. Besides the decoded bytes it
// returns the token sequence, so tests can check the compressor's choices, not only that the
// bytes come back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/tables.h"

namespace tokens {

struct Token {
    unsigned length = 0;   // 0 for a literal, else the match length (2 to 518)
    unsigned distance = 0; // match distance (1 = the byte just before)
    std::uint8_t literal = 0;

    bool operator==(const Token& o) const
    {
        return length == o.length && distance == o.distance &&
               (length != 0 || literal == o.literal);
    }
};

inline Token Lit(std::uint8_t b)
{
    return Token{0, 0, b};
}
inline Token Match(unsigned length, unsigned distance)
{
    return Token{length, distance, 0};
}

inline std::string ToString(const Token& t)
{
    if (t.length == 0)
        return "lit(" + std::to_string(t.literal) + ")";
    return "match(" + std::to_string(t.length) + "," + std::to_string(t.distance) + ")";
}

struct Decoded {
    bool ok = false;   // the end code was reached
    std::string error; // why not
    unsigned type = 0;
    unsigned dictBits = 0;
    std::vector<std::uint8_t> data;
    std::vector<Token> tokens;
    std::size_t bitsUsed = 0; // bits of the bit stream up to and including the end code
};

// Prefix-code lookup: symbol by (bit count, value as read least significant bit first).
class CodeLookup {
public:
    template <std::size_t N>
    CodeLookup(const std::array<std::uint8_t, N>& bits, const std::array<std::uint16_t, N>& codes)
        : m_byLength(17)
    {
        for (std::size_t s = 0; s < N; ++s) {
            auto& row = m_byLength[bits[s]];
            if (row.empty())
                row.assign(std::size_t{1} << bits[s], -1);
            row[codes[s]] = static_cast<int>(s);
        }
    }
    // -1 when no symbol has this code.
    int Find(unsigned length, unsigned value) const
    {
        const auto& row = m_byLength[length];
        return row.empty() ? -1 : row[value];
    }

private:
    std::vector<std::vector<int>> m_byLength;
};

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& s) : m_s(s), m_pos(16) {}
    bool Bit(unsigned& bit)
    {
        if (m_pos >= m_s.size() * 8)
            return false;
        bit = (m_s[m_pos / 8] >> (m_pos % 8)) & 1u;
        ++m_pos;
        return true;
    }
    bool Bits(unsigned n, unsigned& value)
    {
        value = 0;
        for (unsigned i = 0; i < n; ++i) {
            unsigned b;
            if (!Bit(b))
                return false;
            value |= b << i;
        }
        return true;
    }
    bool Symbol(const CodeLookup& lookup, unsigned maxBits, unsigned& symbol)
    {
        unsigned value = 0;
        for (unsigned n = 1; n <= maxBits; ++n) {
            unsigned b;
            if (!Bit(b))
                return false;
            value |= b << (n - 1);
            const int s = lookup.Find(n, value);
            if (s >= 0) {
                symbol = static_cast<unsigned>(s);
                return true;
            }
        }
        return false;
    }
    std::size_t Position() const { return m_pos - 16; }

private:
    const std::vector<std::uint8_t>& m_s;
    std::size_t m_pos;
};

inline Decoded Decode(const std::vector<std::uint8_t>& stream)
{
    static const CodeLookup lengths(codec::kLenBits, codec::kLenCodes);
    static const CodeLookup distances(codec::kDistBits, codec::kDistCodes);
    static const CodeLookup ascii(codec::kAsciiBits, codec::kAsciiCodes);

    Decoded d;
    if (stream.size() < 2) {
        d.error = "no header";
        return d;
    }
    d.type = stream[0];
    d.dictBits = stream[1];
    if (d.type > 1 || d.dictBits < 4 || d.dictBits > 6) {
        d.error = "bad header";
        return d;
    }
    BitReader in(stream);
    for (;;) {
        unsigned flag;
        if (!in.Bit(flag)) {
            d.error = "stream ended before the end code";
            return d;
        }
        if (flag == 0) {
            unsigned b;
            if (!(d.type == 0 ? in.Bits(8, b) : in.Symbol(ascii, 13, b))) {
                d.error = "bad literal";
                return d;
            }
            d.data.push_back(static_cast<std::uint8_t>(b));
            d.tokens.push_back(Lit(static_cast<std::uint8_t>(b)));
            continue;
        }
        unsigned cls;
        unsigned extra;
        if (!in.Symbol(lengths, 7, cls) || !in.Bits(codec::kLenExtraBits[cls], extra)) {
            d.error = "bad length";
            return d;
        }
        const unsigned length = codec::kLenBase[cls] + 2 + extra;
        if (length == 519) {
            d.ok = true;
            d.bitsUsed = in.Position();
            return d;
        }
        const unsigned lowBits = length == 2 ? 2 : d.dictBits;
        unsigned code;
        unsigned low;
        if (!in.Symbol(distances, 8, code) || !in.Bits(lowBits, low)) {
            d.error = "bad distance";
            return d;
        }
        const unsigned distance = ((code << lowBits) | low) + 1;
        if (distance > d.data.size()) {
            d.error = "distance before the start";
            return d;
        }
        for (unsigned i = 0; i < length; ++i)
            d.data.push_back(d.data[d.data.size() - distance]);
        d.tokens.push_back(Match(length, distance));
    }
}

} // namespace tokens
