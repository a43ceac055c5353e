// packtool-cli test: says whether a packed file or a set of volumes is sound, without
// restoring anything: the stream is decoded straight from the volumes up to its end code.
// Checks that a sound set may still fail (its shape against what splitting writes, data behind
// the end code) are reported as warnings.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/consolehost.h"
#include "engine/format.h"
#include "engine/inventory.h"
#include "engine/names.h"
#include "engine/packedformat.h"
#include "engine/testjob.h"
#include "platform/files.h"
#include "platform/json.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct TestOptions : FilesOptions {
    std::vector<std::string> volumeDirs;
    bool recursive = false;
    bool json = false;
};

// What an inventory (--json) says of a verdict, in words a program can compare.
const char* VerdictWord(const TestOutcome& outcome)
{
    switch (outcome.report.verdict) {
    case PackedFileReport::Sound: return outcome.sound ? "sound" : "damaged"; // a checksum differs
    case PackedFileReport::VolumeMissing: return "incomplete";
    case PackedFileReport::CannotOpen:
    case PackedFileReport::ReadError: return "unreadable";
    default: return "damaged";
    }
}

std::string BaseNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One line of --json for a packed file or set: the schema is in docs/inventory-json.md.
std::string EntryJson(const std::string& path, const InventoryEntry* entry,
                      const TestOutcome& outcome)
{
    const PackedFileReport& report = outcome.report;
    const bool set = entry ? entry->set : report.volumeCount > 0;
    const int expected = entry ? entry->volumesExpected : std::max(1, report.volumeCount);
    JsonArray missing;
    int missingCount = 0;
    if (entry) {
        for (const int volume : entry->missing)
            missing.Add(volume);
        missingCount = static_cast<int>(entry->missing.size());
    } else if (report.missingVolume >= 0) {
        missing.Add(report.missingVolume);
        missingCount = 1;
    }
    JsonObject object;
    object.Add("path", path);
    object.Add("kind", set ? "set" : "single");
    object.Add("volumesExpected", expected);
    object.Add("volumesFound", expected - missingCount);
    object.Add("volumesMissing", missing);
    object.Add("packedBytes", static_cast<double>(entry ? entry->bytes : FileSizeOrZero(path)));
    object.Add("streamBytes", static_cast<double>(report.streamBytes));
    object.Add("restoredBytes", static_cast<double>(report.restoredBytes));
    object.Add("projectFile", BaseNameOf(ProjectNameFor(path)));
    object.Add("verdict", VerdictWord(outcome));
    object.Add("reason", outcome.verdict);
    object.Add("manifestVouched", outcome.manifestVouched);
    return object.Text();
}

std::string OrphanJson(const Inventory::Orphan& orphan, const std::string& reason)
{
    JsonObject object;
    object.Add("path", orphan.path);
    object.Add("kind", "orphan");
    object.Add("volume", orphan.volume);
    object.Add("firstVolume", orphan.firstVolume);
    object.Add("verdict", "orphan");
    object.Add("reason", reason);
    return object.Text();
}

CheckRequest RequestFor(const TestOptions& options, const std::string& file)
{
    CheckRequest request;
    request.packedPath = file;
    request.volumeSearchDirs = options.volumeDirs;
    return request;
}

// What test prints after its job: warnings with the log, the verdict on standard output.
int EndTestOf(ConsoleHost& host, const TestOutcome& outcome, std::vector<std::string>& report)
{
    if (outcome.streamSound)
        host.FinishPlainProgress();
    for (const std::string& warning : outcome.warnings)
        host.PrintLine(warning);
    report.push_back(outcome.verdict);
    report.insert(report.end(), outcome.manifestLines.begin(), outcome.manifestLines.end());
    report.insert(report.end(), outcome.recoveryLines.begin(), outcome.recoveryLines.end());
    return outcome.sound ? EXIT_OK : EXIT_FAILED;
}

int RunTestOne(const TestOptions& options)
{
    ConsoleHost host(options.answers.Answer());
    host.SetPlainProgress(options.progress == "plain");

    TestOutcome outcome;
    if (!StartTestJob(RequestFor(options, options.files.front()), outcome))
        return EXIT_FAILED;
    host.RunUntilJobEnds();
    std::vector<std::string> report;
    const int status = EndTestOf(host, outcome, report);
    // Warnings go to standard error with the job's log; the verdict to standard output.
    for (const std::string& line : report)
        std::printf("%s\n", line.c_str());
    if (!ReportWritten(host, "test"))
        return EXIT_FAILED;
    return status;
}

// One packed file or set of a batch.
class TestFileJob : public BatchJob {
public:
    TestFileJob(const TestOptions& options, std::string file, const InventoryEntry* entry)
        : m_options(options), m_file(std::move(file)), m_entry(entry)
    {
    }

    bool Start(ConsoleHost& host) override
    {
        // An inventory asks nobody for a missing volume: that is what it reports.
        if (m_options.recursive)
            host.NeverAsk();
        return StartTestJob(RequestFor(m_options, m_file), m_outcome);
    }

    BatchResult Finish(ConsoleHost& host, bool started) override
    {
        BatchResult result;
        if (!started)
            return result;
        std::vector<std::string> lines;
        result.succeeded = EndTestOf(host, m_outcome, lines) == EXIT_OK;
        if (m_entry && !m_entry->missing.empty()) {
            result.succeeded = false;
            result.reason = MissingLine(*m_entry);
        } else {
            result.reason = m_outcome.verdict;
        }
        result.report = m_options.json
                            ? std::vector<std::string>{EntryJson(m_file, m_entry, m_outcome)}
                            : lines;
        return result;
    }

private:
    static std::string MissingLine(const InventoryEntry& entry)
    {
        const int volume = entry.missing.front();
        return FormatText(LoadString(IDS_CLI_SET_VOLUME_MISSING).c_str(), static_cast<long>(volume),
                          static_cast<long>(entry.volumesExpected),
                          BaseNameOf(VolumePath(entry.path, volume)).c_str());
    }

    const TestOptions& m_options;
    std::string m_file;
    const InventoryEntry* m_entry;
    TestOutcome m_outcome;
};

int RunTest(const TestOptions& options)
{
    UseLanguage(options.lang);
    if (options.files.size() == 1 && !options.recursive && !options.json)
        return RunTestOne(options);

    ConsoleHost host(options.answers.Answer());
    std::vector<BatchFile> batch;
    std::vector<Inventory> inventories;
    std::vector<std::string> extraFailures; // orphans and folders with nothing in them
    int status = EXIT_OK;
    if (options.recursive) {
        for (const std::string& dir : options.files)
            inventories.push_back(TakeInventory(dir));
        for (std::size_t i = 0; i < inventories.size(); ++i) {
            const Inventory& inventory = inventories[i];
            for (const InventoryEntry& entry : inventory.entries)
                batch.push_back({entry.path,
                                 std::make_unique<TestFileJob>(options, entry.path, &entry),
                                 entry.bytes});
            for (const Inventory::Orphan& orphan : inventory.orphans) {
                const std::string reason = FormatText(LoadString(IDS_CLI_ORPHAN_VOLUME).c_str(),
                                                      static_cast<long>(orphan.volume),
                                                      BaseNameOf(orphan.firstVolume).c_str());
                if (options.json)
                    std::printf("%s\n", OrphanJson(orphan, reason).c_str());
                extraFailures.push_back(FormatText(LoadString(IDS_CLI_BATCH_FAILED).c_str(),
                                                   orphan.path.c_str(), reason.c_str()));
            }
            for (const auto& folder : inventory.unreadable)
                extraFailures.push_back(FormatText(LoadString(IDS_CLI_BATCH_FAILED).c_str(),
                                                   folder.first.c_str(),
                                                   SystemErrorText(folder.second).c_str()));
            if (inventory.entries.empty() && inventory.orphans.empty())
                host.PrintLine(FormatText(LoadString(IDS_CLI_NOTHING_FOUND).c_str(),
                                          options.files[i].c_str()));
        }
    } else {
        // A test writes nothing.
        const auto nothing = [](const std::string&) { return std::string(); };
        batch = BatchOf(DistinctFiles(options.files), nothing, [&](const std::string& file) {
            return std::make_unique<TestFileJob>(options, file, nullptr);
        });
    }
    if (!batch.empty())
        status = RunBatch(batch, BatchSettingsFor(options, IDS_CLI_BATCH_SOUND));
    for (const std::string& line : extraFailures)
        host.PrintLine(line);
    if (!extraFailures.empty())
        status = EXIT_FAILED;
    if (!ReportWritten(host, "test"))
        return EXIT_FAILED;
    return status;
}

void DeclareTestOptions(CLI::App& cmd, TestOptions& options)
{
    AddAnswerOptions(cmd, options.answers,
                     "Answer OK to every question (look for a missing volume)");
    AddVolumeDirOption(cmd, options.volumeDirs);
    AddLanguageOption(cmd, options.lang);
    AddProgressOption(cmd, options.progress,
                      "one line 'expand PERCENT' on standard error per whole percent");
    AddJobsOption(cmd, options.jobs);
    cmd.add_flag(
        "--recursive", options.recursive,
        "Each PATH is a folder: test every packed file and set below it, and report the "
        "volumes of sets whose first volume is not there and the sets with volumes missing");
    cmd.add_flag("--json", options.json,
                 "On standard output, one JSON object per line for each packed file, set or "
                 "orphan volume instead of the verdicts (see docs/inventory-json.md)");
    cmd.add_option(
           "PATH", options.files,
           "The packed files (.0KX, .0RV), the first of each set; with --recursive, folders")
        ->required();
}

const CommandRegistration registration(
    30, "test",
    "Say whether a packed file or a set of volumes is sound, without restoring it: exit 0 when "
    "its stream is complete up to its end code. Recovery files NAME.par2 beside it are verified "
    "with par2: a damaged volume is named, with whether it can be rebuilt (exit 1).",
    DeclareTestOptions, RunTest);

} // namespace
