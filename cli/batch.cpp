#include "cli/batch.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cli/commands.h"
#include "engine/batchsummary.h"
#include "engine/format.h"
#include "platform/eventloop.h"
#include "platform/files.h"
#include "platform/jobscope.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

constexpr int kBarWidth = 30;

// What the main thread keeps of one file while the batch runs.
struct Running {
    BatchFile* file = nullptr;
    std::unique_ptr<ConsoleHost> host;
    std::unique_ptr<JobScope> scope;
    bool started = false;
};

class Batch {
public:
    Batch(std::vector<BatchFile>& files, const BatchSettings& settings)
        : m_files(files),
          m_settings(settings),
          m_bar(isatty(STDERR_FILENO) != 0 && !settings.plainProgress)
    {
        m_shared.clearBar = [this] { ClearBar(); };
        m_shared.drawsBar = m_bar;
        for (const BatchFile& file : files)
            m_totalBytes += file.size;
    }

    int Run();

private:
    void StartNext();
    void End(Running& running);
    void PrintSummary();
    void DrawBar();
    void ClearBar();

    std::vector<BatchFile>& m_files;
    const BatchSettings& m_settings;
    EventLoop m_loop;
    ConsoleBatch m_shared{m_loop, {}, {}, false};
    std::vector<Running> m_running;
    std::size_t m_next = 0;
    std::vector<BatchResult> m_results; // by file, in the order given
    std::vector<bool> m_ended;
    std::vector<bool> m_cancelled; // it ended failed after a stop signal
    std::size_t m_endedCount = 0;
    long long m_totalBytes = 0;
    long long m_endedBytes = 0;
    bool m_bar;
    bool m_barShown = false;
    std::string m_lastBar;
};

void Batch::StartNext()
{
    BatchFile& file = m_files[m_next++];
    Running running;
    running.file = &file;
    running.host = std::make_unique<ConsoleHost>(m_settings.answer, m_shared, file.name);
    running.host->SetPlainProgress(m_settings.plainProgress);
    running.scope = std::make_unique<JobScope>(running.host.get());
    {
        const JobScope::Enter inScope(running.scope.get());
        running.started = file.job->Start(*running.host);
    }
    m_running.push_back(std::move(running));
}

void Batch::End(Running& running)
{
    BatchResult result;
    {
        const JobScope::Enter inScope(running.scope.get());
        result = running.file->job->Finish(*running.host, running.started);
    }
    const std::string log = running.host->TakeLog();
    if (!result.succeeded)
        result.reason = FailureReason(running.file->name, result.reason, log);
    ClearBar();
    {
        const std::lock_guard<std::mutex> lock(m_shared.output);
        std::fprintf(stderr, "%s%s\n%s", m_endedCount > 0 ? "\n" : "",
                     BatchHeading(running.file->name).c_str(), log.c_str());
        std::fflush(stderr);
    }
    for (const std::string& line : result.report)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    const std::size_t index = static_cast<std::size_t>(running.file - m_files.data());
    m_results[index] = result;
    m_ended[index] = true;
    m_cancelled[index] = !result.succeeded && StopSignalCaught() != 0;
    ++m_endedCount;
    m_endedBytes += running.file->size;
}

int Batch::Run()
{
    m_results.assign(m_files.size(), BatchResult());
    m_ended.assign(m_files.size(), false);
    m_cancelled.assign(m_files.size(), false);
    const unsigned jobs = std::max(1u, m_settings.jobs);
    for (;;) {
        // A stop signal starts nothing new; the running jobs see their cancel and end.
        while (m_running.size() < jobs && m_next < m_files.size() && StopSignalCaught() == 0)
            StartNext();
        if (m_running.empty())
            break;
        DrawBar();
        m_loop.RunUntil([this] {
            DrawBar();
            return std::any_of(m_running.begin(), m_running.end(), [](const Running& running) {
                return !running.started || running.scope->RunningThreads() == 0;
            });
        });
        for (auto it = m_running.begin(); it != m_running.end();) {
            if (it->started && it->scope->RunningThreads() != 0) {
                ++it;
                continue;
            }
            End(*it);
            it = m_running.erase(it);
        }
    }
    ClearBar();
    PrintSummary();
    const bool allDone = std::all_of(m_results.begin(), m_results.end(),
                                     [](const BatchResult& result) { return result.succeeded; });
    return allDone && m_endedCount == m_files.size() ? EXIT_OK : EXIT_FAILED;
}

void Batch::PrintSummary()
{
    std::vector<BatchFileEnd> ends;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        BatchFileEnd end{m_files[i].name, BatchFileState::Done, {}};
        if (!m_ended[i] || m_cancelled[i])
            end.state = BatchFileState::NotDone;
        else if (!m_results[i].succeeded)
            end = {m_files[i].name, BatchFileState::Failed, m_results[i].reason};
        ends.push_back(std::move(end));
    }
    std::string summary = "\n";
    for (const std::string& line : BatchSummaryLines(m_settings.summaryId, ends))
        summary += line + "\n";
    const std::lock_guard<std::mutex> lock(m_shared.output);
    std::fputs(summary.c_str(), stderr);
    std::fflush(stderr);
}

void Batch::DrawBar()
{
    if (!m_bar)
        return;
    long long bytes = m_endedBytes;
    for (const Running& running : m_running)
        bytes += running.file->size * std::max(0, running.host->Progress()) / 100;
    const int percent =
        m_totalBytes > 0
            ? static_cast<int>(bytes * 100 / m_totalBytes)
            : static_cast<int>(m_endedCount * 100 / std::max<std::size_t>(1, m_files.size()));
    const int filled = percent * kBarWidth / 100;
    const std::string line =
        "[" + std::string(static_cast<std::size_t>(filled), '#') +
        std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " +
        std::to_string(percent) + "%  " +
        FormatText(LoadString(IDS_CLI_BATCH_BAR).c_str(), static_cast<long>(m_endedCount),
                   static_cast<long>(m_files.size()));
    if (m_barShown && line == m_lastBar)
        return;
    const std::lock_guard<std::mutex> lock(m_shared.output);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    m_barShown = true;
    m_lastBar = line;
}

void Batch::ClearBar()
{
    if (!m_barShown)
        return;
    const std::lock_guard<std::mutex> lock(m_shared.output);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_barShown = false;
}

} // namespace

int RunBatch(std::vector<BatchFile>& files, const BatchSettings& settings)
{
    Batch batch(files, settings);
    return batch.Run();
}

unsigned MachineCores()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned ThreadsPerJob(unsigned jobs, std::size_t files)
{
    const std::size_t atOnce = std::max<std::size_t>(1, std::min<std::size_t>(jobs, files));
    return std::max(1u, MachineCores() / static_cast<unsigned>(atOnce));
}

std::vector<std::string> DistinctFiles(const std::vector<std::string>& files)
{
    std::vector<std::string> distinct;
    std::set<std::string> seen;
    for (const std::string& file : files)
        if (seen.insert(AbsolutePath(file)).second)
            distinct.push_back(file);
    return distinct;
}

long long FileSizeOrZero(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)
               ? static_cast<long long>(info.st_size)
               : 0;
}

BatchSettings BatchSettingsFor(const FilesOptions& options, unsigned summaryId)
{
    BatchSettings settings;
    settings.answer = options.answers.Answer();
    settings.jobs = options.jobs;
    settings.plainProgress = options.progress == "plain";
    settings.summaryId = summaryId;
    return settings;
}

namespace {

class Refused : public BatchJob {
public:
    explicit Refused(std::string reason) : m_reason(std::move(reason)) {}

    bool Start(ConsoleHost& host) override
    {
        host.PrintLine(m_reason);
        return false;
    }

    BatchResult Finish(ConsoleHost&, bool) override
    {
        BatchResult result;
        result.reason = m_reason;
        return result;
    }

private:
    std::string m_reason;
};

} // namespace

std::unique_ptr<BatchJob> RefusedJob(std::string reason)
{
    return std::make_unique<Refused>(std::move(reason));
}
