// Many files in one console command: every file is its own job, with its own host, log and
// cancel request (platform/jobscope.h), up to --jobs of them at once. Each job's log is printed
// whole under its file's name once it has ended, a failure ends that file's job only, and a
// summary closes the command. A stop signal cancels every running job and starts no new one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/consolehost.h"
#include "cli/options.h"
#include "engine/format.h"
#include "engine/names.h"
#include "platform/strings.h"
#include "resources/textids.h"

// How one file's job ended.
struct BatchResult {
    bool succeeded = false;
    std::string reason;              // why not, when known: else taken from its log
    std::vector<std::string> report; // lines for standard output (a test's verdict)
};

// One file's job. Both calls run on the main thread inside the job's scope, so that what
// they report goes to the job's own host.
class BatchJob {
public:
    virtual ~BatchJob() = default;
    // Checks and starts the job; false when it ended already (Finish follows at once).
    virtual bool Start(ConsoleHost& host) = 0;
    // Once the job's worker has ended (or it never started): how it went, with the lines
    // the console adds to its log (through host).
    virtual BatchResult Finish(ConsoleHost& host, bool started) = 0;
};

struct BatchFile {
    std::string name; // as the user gave it: the log's heading, the summary
    std::unique_ptr<BatchJob> job;
    // The job's input, in bytes, for the batch's progress bar; 0 when unknown.
    long long size = 0;
};

struct BatchSettings {
    ConsoleHost::Answer answer = ConsoleHost::Answer::Ask;
    unsigned jobs = 1; // files at once
    bool plainProgress = false;
    unsigned summaryId = 0; // "Packed: %ld of %ld files." and the like
};

// Runs the files' jobs and prints their logs and the summary. Returns the command's exit
// status: EXIT_OK when every file's job succeeded, else EXIT_FAILED.
int RunBatch(std::vector<BatchFile>& files, const BatchSettings& settings);

// The length of a file, 0 when it cannot be had: the weight of its job in the progress bar.
long long FileSizeOrZero(const std::string& path);

// The machine's cores, at least 1: the default of --jobs.
unsigned MachineCores();

// The options of a command that takes several files: the files, and --jobs.
struct FilesOptions : JobOptions {
    std::vector<std::string> files;
    unsigned jobs = MachineCores();
};

// The settings of the command's batch; summaryId: "Packed: %ld of %ld files." and the like.
BatchSettings BatchSettingsFor(const FilesOptions& options, unsigned summaryId);

// A file's job that does not run: it fails with the reason.
std::unique_ptr<BatchJob> RefusedJob(std::string reason);

// A batch of the files, each file's job made by makeJob(file) and weighed by the file's size.
// outputOf(file) is the path that file's job writes (absolute; empty when it writes nothing):
// a file whose job would write what an earlier file's job writes is refused instead.
template <class OutputOf, class MakeJob>
std::vector<BatchFile> BatchOf(const std::vector<std::string>& files, OutputOf outputOf,
                               MakeJob makeJob)
{
    std::vector<std::string> outputs;
    for (const std::string& file : files)
        outputs.push_back(outputOf(file));
    const std::vector<int> earlier = EarlierFileWritingTheSame(outputs);
    std::vector<BatchFile> batch;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        if (earlier[i] >= 0)
            batch.push_back({file,
                             RefusedJob(FormatText(
                                 LoadString(IDS_BATCH_SAME_OUTPUT).c_str(), outputs[i].c_str(),
                                 files[static_cast<std::size_t>(earlier[i])].c_str())),
                             FileSizeOrZero(file)});
        else
            batch.push_back({file, makeJob(file), FileSizeOrZero(file)});
    }
    return batch;
}

// The compressor's threads for each of jobs files at once on the machine's cores: the cores
// that no file takes are shared among the files.
unsigned ThreadsPerJob(unsigned jobs, std::size_t files);

// The files given, each once (the first time it is named, by its absolute path): two jobs on
// one file would only wait for each other.
std::vector<std::string> DistinctFiles(const std::vector<std::string>& files);
