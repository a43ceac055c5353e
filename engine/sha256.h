// SHA-256 (FIPS 180-4), incremental, for the checksums beside packed files (manifest.h).
//
// Our own small implementation: the checksums are the only cryptography the program needs,
// and a pack or unpack without a manifest then loads no library it does not use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const unsigned char* bytes, std::size_t count);
    // The checksum of everything given so far, in lower-case hexadecimal (64 characters).
    // The digest may go on afterwards; FinalHex does not change it.
    std::string FinalHex() const;

private:
    void Compress(const unsigned char block[64]);

    std::uint32_t m_state[8];
    unsigned char m_block[64] = {};
    std::size_t m_blockUsed = 0;
    std::uint64_t m_length = 0; // bytes given so far
};
