// What the console's batch and the window's queue say of many files: why a file failed, and
// the summary that closes them.
#include <gtest/gtest.h>

#include "engine/batchsummary.h"
#include "engine/format.h"
#include "platform/strings.h"
#include "resources/textids.h"

TEST(BatchSummary, FailureReasonIsTheLastLineThatSaysWhy)
{
    const std::string packEnd = LoadString(IDS_PACK_END);
    struct Row {
        std::string known;
        std::string log;
        std::string reason;
    };
    const Row rows[] = {
        // The banners and the closing lines of the console and of the window say nothing.
        {"", packEnd + "Unable to read 'a.kmx'.\r\n" + LoadString(IDS_CLI_PACK_FAILED) + "\n",
         "Unable to read 'a.kmx'."},
        {"", "Bad header.\r\n" + LoadString(IDS_UNPACK_NOT_COMPLETE), "Bad header."},
        {"", "The data is damaged.\n" + LoadString(IDS_TEST_NOT_SOUND_END), "The data is damaged."},
        // What the front end knows comes first; the file's own name is not said twice.
        {"volume 2 missing", "Bad header.\n", "volume 2 missing"},
        {"", "a.kmx: Permission denied\n", "Permission denied"},
        // A log that says nothing of why.
        {"", packEnd, LoadString(IDS_CLI_BATCH_NO_REASON)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FailureReason("a.kmx", row.known, row.log), row.reason) << row.log;
}

TEST(BatchSummary, CountsWhatWasDoneAndNamesEveryOtherFile)
{
    const std::vector<BatchFileEnd> files{{"a.kmx", BatchFileState::Done, {}},
                                          {"b.kmx", BatchFileState::Failed, "Disk full"},
                                          {"c.kmx", BatchFileState::NotDone, {}},
                                          {"d.kmx", BatchFileState::Done, {}}};
    const std::vector<std::string> expected{
        FormatText(LoadString(IDS_CLI_BATCH_PACKED).c_str(), 2L, 4L),
        FormatText(LoadString(IDS_CLI_BATCH_FAILED).c_str(), "b.kmx", "Disk full"),
        FormatText(LoadString(IDS_CLI_BATCH_NOT_DONE).c_str(), "c.kmx")};
    EXPECT_EQ(BatchSummaryLines(IDS_CLI_BATCH_PACKED, files), expected);
    EXPECT_EQ(
        BatchSummaryLines(IDS_CLI_BATCH_SOUND, {}),
        std::vector<std::string>{FormatText(LoadString(IDS_CLI_BATCH_SOUND).c_str(), 0L, 0L)});
}
