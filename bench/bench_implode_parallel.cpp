// Compression speed of implode on all cores against implode on one thread and against deflate 6
// on all cores, on the same files in memory.
//
// Every file of the corpus (bench/make_corpus.sh; default bench/corpus beside this source,
// or --corpus=DIR, or PACKTOOL_CORPUS) is compressed by implode (binary literals, 4096-byte
// dictionary, as the pack job does, a zeroed work area each time) on one thread and on
// --threads=N threads (default: the machine's), and by deflate 6 cut into independent 128 KB
// pieces compressed on the same number of threads (the way a parallel gzip divides its work;
// its stream is a little larger than one deflate stream). After the usual benchmark output a
// table shows, per file, the MB/s of each, implode's speedup over one thread and its speed
// relative to parallel deflate 6 (goal: above 1.0), and how many segments the join had to
// parse again from their true start.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "bench/memorystreams.h"
#include "codec/codec.h"
#include "codec/implode_parallel.h"

namespace {

unsigned g_threads = 0;

std::size_t Implode(const Bytes& input, Bytes& output, CodecWorkArea& work, unsigned threads,
                    codec::ImplodeParallelStats* stats)
{
    std::memset(work.bytes, 0, sizeof work.bytes);
    MemoryStreams m{&input, 0, &output, 0};
    const unsigned type = CODEC_BINARY;
    const unsigned dictSize = 4096;
    codec::ImplodeParallelWithStats(ReadMemory, WriteMemory, work.bytes, &m, &type, &dictSize,
                                    threads, 0, stats);
    return m.outPos;
}

// Deflate 6 in independent pieces of 128 KB, the pieces taken in turn by `threads` threads.
std::size_t ParallelDeflate(const Bytes& input, std::vector<Bytes>& pieces, unsigned threads)
{
    constexpr std::size_t kPiece = 128 * 1024;
    const std::size_t count = (input.size() + kPiece - 1) / kPiece;
    pieces.resize(count);
    std::vector<std::size_t> sizes(count);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            const std::size_t from = i * kPiece;
            const std::size_t n = std::min(kPiece, input.size() - from);
            pieces[i].resize(compressBound(static_cast<uLong>(n)));
            uLongf size = static_cast<uLongf>(pieces[i].size());
            if (compress2(pieces[i].data(), &size, input.data() + from, static_cast<uLong>(n), 6) !=
                Z_OK)
                std::abort();
            sizes[i] = size;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (auto& t : pool)
        t.join();
    std::size_t total = 0;
    for (std::size_t s : sizes)
        total += s;
    return total;
}

double CpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Row {
    double oneRate = 0, manyRate = 0, deflateRate = 0;
    double oneCpu = 0, manyCpu = 0, callerCpu = 0; // CPU seconds per run: all threads; the caller's
    double share = 0;
    std::uint64_t segments = 0, parsedAgain = 0;
};
std::map<std::string, Row> g_rows;

enum class Method {
    ImplodeOne,
    ImplodeMany,
    DeflateMany
};

void Compress(benchmark::State& state, const Bytes* input, Method method)
{
    Bytes output(input->size() + input->size() / 8 + 4096);
    std::vector<Bytes> pieces;
    auto work = std::make_unique<CodecWorkArea>();
    std::size_t size = 0;
    codec::ImplodeParallelStats stats;
    const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double thread0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        stats = {};
        switch (method) {
        case Method::ImplodeOne: size = Implode(*input, output, *work, 1, nullptr); break;
        case Method::ImplodeMany: size = Implode(*input, output, *work, g_threads, &stats); break;
        case Method::DeflateMany: size = ParallelDeflate(*input, pieces, g_threads); break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["cpu_s"] = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0) / runs;
    state.counters["caller_cpu_s"] = (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0) / runs;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
    state.counters["share"] = static_cast<double>(size) / static_cast<double>(input->size());
    state.counters["segments"] = static_cast<double>(stats.segments);
    state.counters["parsed_again"] = static_cast<double>(stats.seamsParsedAgain);
}

// Collects the rates for the table, and shows the usual console output.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, or the median of repetitions.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median)
                continue;
            const std::string name = run.run_name.function_name;
            const auto slash = name.find('/');
            if (slash == std::string::npos)
                continue;
            const std::string method = name.substr(0, slash);
            const std::string file = name.substr(slash + 1);
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end())
                continue;
            const double mbps = rate->second.value / 1e6;
            Row& row = g_rows[file];
            if (method == "implode_1") {
                row.oneRate = mbps;
                row.oneCpu = run.counters.at("cpu_s").value;
            } else if (method == "implode_n") {
                row.manyRate = mbps;
                row.manyCpu = run.counters.at("cpu_s").value;
                row.callerCpu = run.counters.at("caller_cpu_s").value;
                row.share = run.counters.at("share").value;
                row.segments = static_cast<std::uint64_t>(run.counters.at("segments").value);
                row.parsedAgain = static_cast<std::uint64_t>(run.counters.at("parsed_again").value);
            } else if (method == "deflate6_n") {
                row.deflateRate = mbps;
            }
        }
    }
};

// Takes --corpus=DIR and --threads=N out of the arguments.
std::filesystem::path ParseArguments(int& argc, char** argv)
{
    std::filesystem::path dir = std::filesystem::path(__FILE__).parent_path() / "corpus";
    if (const char* env = std::getenv("PACKTOOL_CORPUS"))
        dir = env;
    g_threads = ImplodeMachineThreads();
    for (int i = 1; i < argc;) {
        if (std::strncmp(argv[i], "--corpus=", 9) == 0) {
            dir = argv[i] + 9;
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            g_threads = static_cast<unsigned>(std::max(1, std::atoi(argv[i] + 10)));
        } else {
            ++i;
            continue;
        }
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
    }
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir = ParseArguments(argc, argv);
    const auto files = LoadCorpus(dir);
    if (files.empty())
        return 1;
    for (const auto& [name, data] : files) {
        benchmark::RegisterBenchmark(("implode_1/" + name).c_str(), Compress, data.get(),
                                     Method::ImplodeOne)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("implode_n/" + name).c_str(), Compress, data.get(),
                                     Method::ImplodeMany)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("deflate6_n/" + name).c_str(), Compress, data.get(),
                                     Method::DeflateMany)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // cpu N/1: CPU time of all threads against one thread's (the cost of the join and the
    // wasted speculation); caller: the caller's thread's share of it (reads, join, writes),
    // the part that does not spread over the cores. On a busy machine the MB/s depend on the
    // share of the cores the run gets; these two do not.
    std::printf("\nthreads: %u\n%-10s %10s %10s %11s %8s %10s %9s %8s %9s %9s %7s\n", g_threads,
                "file", "implode 1", "implode N", "deflate6 N", "speedup", "vs defl6 N",
                "implode %", "cpu N/1", "caller %", "segments", "again");
    for (const auto& [file, r] : g_rows) {
        std::printf("%-10s %10.1f %10.1f %11.1f %7.2fx %9.2fx %8.1f%% %7.3fx %8.1f%% %9llu %7llu\n",
                    file.c_str(), r.oneRate, r.manyRate, r.deflateRate,
                    r.oneRate > 0 ? r.manyRate / r.oneRate : 0.0,
                    r.deflateRate > 0 ? r.manyRate / r.deflateRate : 0.0, 100 * r.share,
                    r.oneCpu > 0 ? r.manyCpu / r.oneCpu : 0.0,
                    r.manyCpu > 0 ? 100 * r.callerCpu / r.manyCpu : 0.0,
                    static_cast<unsigned long long>(r.segments),
                    static_cast<unsigned long long>(r.parsedAgain));
    }
    return 0;
}
