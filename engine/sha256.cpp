#include "engine/sha256.h"

#include <cstring>

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The first 32 bits of the fractional parts of the square roots of the first 8 primes.
constexpr std::uint32_t kInitial[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline std::uint32_t RotateRight(std::uint32_t x, unsigned n)
{
    return (x >> n) | (x << (32 - n));
}

inline std::uint32_t LoadBigEndian(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

} // namespace

Sha256::Sha256()
{
    std::memcpy(m_state, kInitial, sizeof m_state);
}

void Sha256::Compress(const unsigned char block[64])
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = LoadBigEndian(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 =
            RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 =
            RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const std::uint32_t choose = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choose + kRound[i] + w[i];
        const std::uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::Update(const unsigned char* bytes, std::size_t count)
{
    m_length += count;
    while (count > 0) {
        if (m_blockUsed == 0 && count >= 64) {
            Compress(bytes); // whole blocks straight from the caller's buffer
            bytes += 64;
            count -= 64;
            continue;
        }
        const std::size_t take = count < 64 - m_blockUsed ? count : 64 - m_blockUsed;
        std::memcpy(m_block + m_blockUsed, bytes, take);
        m_blockUsed += take;
        bytes += take;
        count -= take;
        if (m_blockUsed == 64) {
            Compress(m_block);
            m_blockUsed = 0;
        }
    }
}

std::string Sha256::FinalHex() const
{
    // The padding goes into a copy, so the digest itself can go on.
    Sha256 copy;
    std::memcpy(copy.m_state, m_state, sizeof m_state);
    std::memcpy(copy.m_block, m_block, sizeof m_block);
    copy.m_blockUsed = m_blockUsed;
    const std::uint64_t bits = m_length * 8;
    // A 1 bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    static const unsigned char kPadding[64] = {0x80};
    copy.Update(kPadding, 1 + (119 - m_blockUsed) % 64);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    copy.Update(length, sizeof length);

    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (std::uint32_t word : copy.m_state) {
        for (int shift = 28; shift >= 0; shift -= 4)
            text += kHex[(word >> shift) & 0x0F];
    }
    return text;
}
