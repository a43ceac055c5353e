#include "engine/batchsummary.h"

#include <algorithm>
#include <iterator>

#include "engine/format.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

std::string TrimmedLine(const std::string& line)
{
    const std::size_t first = line.find_first_not_of(" \t\r\n*");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n*") - first + 1);
}

} // namespace

std::string BatchHeading(const std::string& file)
{
    return FormatText(LoadString(IDS_CLI_BATCH_FILE).c_str(), file.c_str());
}

std::string ReasonFromLog(const std::string& log)
{
    // The banners and the closing lines of a job that failed, as the console and the window
    // write them: they say nothing of why.
    const std::string skipped[] = {TrimmedLine(LoadString(IDS_PACK_END)),
                                   TrimmedLine(LoadString(IDS_UNPACK_END)),
                                   TrimmedLine(LoadString(IDS_CLI_PACK_FAILED)),
                                   TrimmedLine(LoadString(IDS_CLI_UNPACK_FAILED)),
                                   TrimmedLine(LoadString(IDS_PACK_NOT_COMPLETE)),
                                   TrimmedLine(LoadString(IDS_UNPACK_NOT_COMPLETE)),
                                   TrimmedLine(LoadString(IDS_TEST_NOT_SOUND_END))};
    std::string reason;
    for (const std::string& untrimmed : SplitLines(log)) {
        const std::string line = TrimmedLine(untrimmed);
        if (!line.empty() &&
            std::find(std::begin(skipped), std::end(skipped), line) == std::end(skipped))
            reason = line;
    }
    return reason;
}

std::string FailureReason(const std::string& file, const std::string& known, const std::string& log)
{
    std::string reason = known.empty() ? ReasonFromLog(log) : known;
    if (reason.empty())
        reason = LoadString(IDS_CLI_BATCH_NO_REASON);
    // The summary names the file before its reason already.
    const std::string named = file + ": ";
    if (reason.compare(0, named.size(), named) == 0)
        reason.erase(0, named.size());
    return reason;
}

std::vector<std::string> BatchSummaryLines(unsigned summaryId,
                                           const std::vector<BatchFileEnd>& files)
{
    const long done =
        static_cast<long>(std::count_if(files.begin(), files.end(), [](const BatchFileEnd& file) {
            return file.state == BatchFileState::Done;
        }));
    std::vector<std::string> lines{
        FormatText(LoadString(summaryId).c_str(), done, static_cast<long>(files.size()))};
    for (const BatchFileEnd& file : files) {
        if (file.state == BatchFileState::NotDone)
            lines.push_back(
                FormatText(LoadString(IDS_CLI_BATCH_NOT_DONE).c_str(), file.file.c_str()));
        else if (file.state == BatchFileState::Failed)
            lines.push_back(FormatText(LoadString(IDS_CLI_BATCH_FAILED).c_str(), file.file.c_str(),
                                       file.reason.c_str()));
    }
    return lines;
}
