// Decompression throughput: explode beside zlib's inflate on the same data, in MB/s of output
// (10^6 bytes per second).
//
// For each corpus file (bench/make_corpus.sh) the data is compressed once with implode, with
// binary literals and the 4096-byte dictionary as the program packs (and with ASCII literals
// for comparison), and once with deflate at level 6 in the zlib format; each benchmark then
// decodes its stream again and again into a buffer of the output's size, explode through its
// callbacks with the program's 2048-byte reads and 4096-byte writes.
//
// Usage: bench_explode [benchmark options]; the corpus is read from $PACKTOOL_BENCH_CORPUS,
// default bench/corpus (run from the top of the source tree).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/memorystreams.h"
#include "codec/codec.h"

namespace {

const char* const kCorpusFiles[] = {"text", "source", "binary", "database", "random"};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "bench_explode: %s\n", what.c_str());
    std::exit(1);
}

Bytes Implode(const Bytes& input, unsigned type)
{
    auto work = std::make_unique<CodecWorkArea>();
    const unsigned dictSize = 4096;
    Bytes stream;
    MemoryStreams m{&input, 0, &stream, 0};
    if (implode(ReadMemory, WriteMemory, work.get(), &m, &type, &dictSize) != CODEC_OK)
        Fail("implode failed");
    stream.resize(m.outPos);
    return stream;
}

// Decodes `stream` into `out` (of the original's size); returns the bytes written.
std::size_t Explode(const Bytes& stream, Bytes& out, CodecWorkArea& work)
{
    MemoryStreams m{&stream, 0, &out, 0};
    if (explode(ReadMemory, WriteMemory, &work, &m) != CODEC_OK)
        Fail("explode failed");
    return m.outPos;
}

Bytes Deflate(const Bytes& input)
{
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, input.data(), static_cast<uLong>(input.size()), 6) != Z_OK)
        Fail("deflate failed");
    out.resize(size);
    return out;
}

// Inflates `stream` into `out`, reusing one inflate state; returns the bytes written.
std::size_t Inflate(z_stream& z, const Bytes& stream, Bytes& out)
{
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END)
        Fail("inflate failed");
    return out.size() - z.avail_out;
}

void SetThroughput(benchmark::State& state, std::size_t outputBytes, std::size_t streamBytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * outputBytes));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(outputBytes) / 1e6 *
                                                    static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
    state.counters["ratio%"] =
        100.0 * static_cast<double>(streamBytes) / static_cast<double>(outputBytes);
}

struct CorpusEntry {
    std::string name;
    Bytes input;
    Bytes binaryStream;
    Bytes asciiStream;
    Bytes deflateStream;
};

std::vector<std::unique_ptr<CorpusEntry>>& Corpus()
{
    static std::vector<std::unique_ptr<CorpusEntry>> corpus;
    return corpus;
}

void LoadCorpus()
{
    const char* dir = std::getenv("PACKTOOL_BENCH_CORPUS");
    const std::string folder = dir != nullptr ? dir : "bench/corpus";
    for (const char* name : kCorpusFiles) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        if (!in)
            Fail("cannot read " + folder + "/" + name + " (run bench/make_corpus.sh first)");
        auto entry = std::make_unique<CorpusEntry>();
        entry->name = name;
        entry->input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        entry->binaryStream = Implode(entry->input, CODEC_BINARY);
        entry->asciiStream = Implode(entry->input, CODEC_ASCII);
        entry->deflateStream = Deflate(entry->input);

        // Every decoder must give the input back before its speed counts.
        Bytes out(entry->input.size());
        auto work = std::make_unique<CodecWorkArea>();
        for (const Bytes* stream : {&entry->binaryStream, &entry->asciiStream}) {
            std::fill(out.begin(), out.end(), 0);
            if (Explode(*stream, out, *work) != out.size() || out != entry->input)
                Fail("explode did not give back " + entry->name);
        }
        z_stream z{};
        inflateInit(&z);
        std::fill(out.begin(), out.end(), 0);
        if (Inflate(z, entry->deflateStream, out) != out.size() || out != entry->input)
            Fail("inflate did not give back " + entry->name);
        inflateEnd(&z);
        Corpus().push_back(std::move(entry));
    }
}

void BenchExplode(benchmark::State& state, const CorpusEntry* entry, const Bytes* stream)
{
    Bytes out(entry->input.size());
    auto work = std::make_unique<CodecWorkArea>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Explode(*stream, out, *work));
        benchmark::ClobberMemory();
    }
    SetThroughput(state, entry->input.size(), stream->size());
}

void BenchInflate(benchmark::State& state, const CorpusEntry* entry)
{
    Bytes out(entry->input.size());
    z_stream z{};
    inflateInit(&z);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Inflate(z, entry->deflateStream, out));
        benchmark::ClobberMemory();
    }
    inflateEnd(&z);
    SetThroughput(state, entry->input.size(), entry->deflateStream.size());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    LoadCorpus();
    for (const auto& entry : Corpus()) {
        const CorpusEntry* e = entry.get();
        benchmark::RegisterBenchmark(("explode/" + e->name).c_str(), BenchExplode, e,
                                     &e->binaryStream)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("inflate/" + e->name).c_str(), BenchInflate, e)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("explode_ascii/" + e->name).c_str(), BenchExplode, e,
                                     &e->asciiStream)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
