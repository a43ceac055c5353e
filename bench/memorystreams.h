// What the codec benchmarks share: the corpus read into memory, and the codec's callbacks
// over bytes in memory (the input is read from a vector, the output appended to another that
// grows by doubling).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Every regular file of the corpus folder dir, by name in order; empty, after saying so on
// standard error, when there is none.
inline std::vector<std::pair<std::string, std::unique_ptr<Bytes>>>
LoadCorpus(const std::filesystem::path& dir)
{
    std::vector<std::pair<std::string, std::unique_ptr<Bytes>>> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        auto data = std::make_unique<Bytes>(std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>());
        files.emplace_back(entry.path().filename().string(), std::move(data));
    }
    if (files.empty())
        std::fprintf(stderr, "no corpus in %s: run bench/make_corpus.sh first\n", dir.c_str());
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return files;
}

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
