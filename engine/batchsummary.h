// What a front end says of many files handled in one go, the console's batch and the window's
// queue alike: the heading above each file's log, why a file failed when its job did not say,
// and the summary that closes the whole.
#pragma once

#include <string>
#include <vector>

// How one file of a batch ended.
enum class BatchFileState {
    Done,
    Failed,
    NotDone // never started, or stopped by a cancel of the whole batch
};

struct BatchFileEnd {
    std::string file; // as the user named it
    BatchFileState state = BatchFileState::NotDone;
    std::string reason; // why it failed (FailureReason); empty otherwise
};

// The heading above a file's log: "==> FILE <==" (IDS_CLI_BATCH_FILE).
std::string BatchHeading(const std::string& file);

// The last line of a failed job's log that says something: not its opening banner, nor the
// closing line that says only that it failed.
std::string ReasonFromLog(const std::string& log);

// Why file's job failed, for the summary: the reason its front end knows (may be empty), else
// the one its log gives, else that it did not complete (IDS_CLI_BATCH_NO_REASON); without the
// file's name in front, which the summary puts there.
std::string FailureReason(const std::string& file, const std::string& known,
                          const std::string& log);

// The summary's lines: "Packed: %ld of %ld files." and the like (summaryId, counting the files
// done among all), then one line for each file that failed, with its reason, and for each file
// not done, in the order of files.
std::vector<std::string> BatchSummaryLines(unsigned summaryId,
                                           const std::vector<BatchFileEnd>& files);
