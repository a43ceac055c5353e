// The codec's callbacks over bytes in memory, for the benchmarks: the input is read from a
// vector, the output appended to another that grows by doubling.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct MemoryStreams {
    const Bytes* in = nullptr;
    std::size_t inPos = 0;
    Bytes* out = nullptr;
    std::size_t outPos = 0;
};

inline unsigned ReadMemory(unsigned char* buf, unsigned* size, void* param)
{
    auto& m = *static_cast<MemoryStreams*>(param);
    const std::size_t n = std::min<std::size_t>(*size, m.in->size() - m.inPos);
    std::memcpy(buf, m.in->data() + m.inPos, n);
    m.inPos += n;
    return static_cast<unsigned>(n);
}

inline void WriteMemory(unsigned char* buf, unsigned* size, void* param)
{
    auto& m = *static_cast<MemoryStreams*>(param);
    if (m.outPos + *size > m.out->size())
        m.out->resize((m.outPos + *size) * 2);
    std::memcpy(m.out->data() + m.outPos, buf, *size);
    m.outPos += *size;
}
