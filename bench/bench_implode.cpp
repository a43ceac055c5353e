// Compression speed of implode against zlib's deflate (levels 1 and 6) on the same files.
//
// Every file of the corpus (bench/make_corpus.sh; default bench/corpus beside this source,
// or --corpus=DIR, or PACKTOOL_CORPUS) is compressed in memory by implode (binary literals,
// 4096-byte dictionary, as the pack job does, in a zeroed work area each time) and by deflate
// at levels 1 and 6. After the usual benchmark output a table shows, per file, the MB/s of
// each, the compressed size as a share of the input, and implode's speed relative to
// deflate 6 (goal: at least 1.0) and to deflate 1 (stretch: at least 0.7).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/memorystreams.h"
#include "codec/codec.h"

namespace {

std::size_t Implode(const Bytes& input, Bytes& output, CodecWorkArea& work)
{
    std::memset(work.bytes, 0, sizeof work.bytes);
    MemoryStreams m{&input, 0, &output, 0};
    const unsigned type = CODEC_BINARY;
    const unsigned dictSize = 4096;
    implode(ReadMemory, WriteMemory, work.bytes, &m, &type, &dictSize);
    return m.outPos;
}

std::size_t Deflate(const Bytes& input, Bytes& output, int level)
{
    uLongf size = static_cast<uLongf>(output.size());
    if (compress2(output.data(), &size, input.data(), static_cast<uLong>(input.size()), level) !=
        Z_OK)
        std::abort();
    return size;
}

struct Row {
    double implodeRate = 0, deflate1Rate = 0, deflate6Rate = 0;
    double implodeShare = 0, deflate1Share = 0, deflate6Share = 0;
};
std::map<std::string, Row> g_rows;

enum class Method {
    Implode,
    Deflate1,
    Deflate6
};

void Compress(benchmark::State& state, const Bytes* input, Method method)
{
    Bytes output(input->size() + input->size() / 8 + 4096);
    auto work = std::make_unique<CodecWorkArea>();
    std::size_t size = 0;
    for (auto _ : state) {
        switch (method) {
        case Method::Implode: size = Implode(*input, output, *work); break;
        case Method::Deflate1: size = Deflate(*input, output, 1); break;
        case Method::Deflate6: size = Deflate(*input, output, 6); break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
    state.counters["share"] = static_cast<double>(size) / static_cast<double>(input->size());
}

// Collects the rates for the table, and shows the usual console output.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const auto slash = name.find('/');
            if (slash == std::string::npos || run.run_type != Run::RT_Iteration)
                continue;
            const std::string method = name.substr(0, slash);
            const std::string file = name.substr(slash + 1);
            const auto rate = run.counters.find("bytes_per_second");
            const auto share = run.counters.find("share");
            if (rate == run.counters.end() || share == run.counters.end())
                continue;
            const double mbps = rate->second.value / 1e6;
            Row& row = g_rows[file];
            if (method == "implode") {
                row.implodeRate = mbps;
                row.implodeShare = share->second.value;
            } else if (method == "deflate1") {
                row.deflate1Rate = mbps;
                row.deflate1Share = share->second.value;
            } else if (method == "deflate6") {
                row.deflate6Rate = mbps;
                row.deflate6Share = share->second.value;
            }
        }
    }
};

std::filesystem::path CorpusDir(int& argc, char** argv)
{
    std::filesystem::path dir = std::filesystem::path(__FILE__).parent_path() / "corpus";
    if (const char* env = std::getenv("PACKTOOL_CORPUS"))
        dir = env;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--corpus=", 9) == 0) {
            dir = argv[i] + 9;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }
    }
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir = CorpusDir(argc, argv);
    const auto files = LoadCorpus(dir);
    if (files.empty())
        return 1;
    for (const auto& [name, data] : files) {
        benchmark::RegisterBenchmark(("implode/" + name).c_str(), Compress, data.get(),
                                     Method::Implode)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("deflate1/" + name).c_str(), Compress, data.get(),
                                     Method::Deflate1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("deflate6/" + name).c_str(), Compress, data.get(),
                                     Method::Deflate6)
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-10s %12s %12s %12s %10s %10s %10s %10s %10s\n", "file", "implode MB/s",
                "deflate1", "deflate6", "vs defl6", "vs defl1", "implode %", "deflate1 %",
                "deflate6 %");
    for (const auto& [file, r] : g_rows) {
        std::printf("%-10s %12.1f %12.1f %12.1f %9.2fx %9.2fx %9.1f%% %9.1f%% %9.1f%%\n",
                    file.c_str(), r.implodeRate, r.deflate1Rate, r.deflate6Rate,
                    r.deflate6Rate > 0 ? r.implodeRate / r.deflate6Rate : 0.0,
                    r.deflate1Rate > 0 ? r.implodeRate / r.deflate1Rate : 0.0, 100 * r.implodeShare,
                    100 * r.deflate1Share, 100 * r.deflate6Share);
    }
    return 0;
}
