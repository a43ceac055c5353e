// What every job and the application shell share: the process state that outlives a job, the
// job state, reporting to the user, and the overwrite check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/mainwindow.h"

// The job state (JobState) and the calls that carry it, the wait cursor and the end of a job
// to the main window are in platform/mainwindow.h.

// Process state: what the jobs of one process share, as opposed to what one job is given (its
// request) and what it answers (its outcome), which each job header declares.
// - g_nJobState: the running job's state; main thread only.
extern int g_nJobState;

// Reporting.
void AppendStatus(const std::string& text);
void AppendStatusId(unsigned id);
// A worker's report once its log is complete: the job has ended, succeeded or not, and its log closes with the
// text closingId (0: no line of its own). Sent; the closing line counts as log text.
void ReportJobEnded(JobKind kind, bool succeeded, unsigned closingId = 0);
void SetProgress(int percent);
void SetJobState(int state); // main thread only
void EnableWhenIdle(CommandUpdate& cmd);
int CheckStream(std::FILE* stream, int messageId);

// Why a question about an existing file stopped a job: the user said Cancel, or the program
// itself refused (a name that cannot name a file, an old file that cannot be removed, a
// cancel request).
enum class CheckRefusal {
    None,
    ByUser,
    ByProgram
};

// The answer to a question about an existing file: true when the job may go on (the file is
// not there, or the user agreed), else why not.
struct ReplaceAnswer {
    CheckRefusal refusal = CheckRefusal::None;
    explicit operator bool() const { return refusal == CheckRefusal::None; }
};

// Asks before a job writes over path (message 1213, or 1212 for an invalid name), naming the
// file as shownName (the name the user knows it by). When the user agrees the old file is
// removed, unless path contains keptExtension (the project extension of the unpack that asks:
// its project file is replaced by a rename once the new one is complete), so an empty
// keptExtension keeps every file.
ReplaceAnswer CheckExistingFile(const std::string& path, const std::string& shownName,
                                const std::string& keptExtension);
// The question of CheckExistingFile for a file that a job replaces only by a rename once its
// new content is complete: the file is never removed here.
ReplaceAnswer AskBeforeReplacing(const std::string& path);
// The answers one job has given about the files it replaces: once the user has answered
// "Yes to all", its later questions are answered OK without a box.
struct ReplaceAnswers {
    bool yesToAll = false;
};
// AskBeforeReplacing for one of several files of a job. With moreFiles > 0 the box says that
// many more of them are there and offers "Yes to all" (IDS_REPLACE_MORE_FILES).
ReplaceAnswer AskBeforeReplacing(const std::string& path, ReplaceAnswers& answers, long moreFiles);

// Logs why a question stopped the job: message 1224 "Operation Aborted by User..." when the
// user said Cancel, else that the program stopped it (the box before it says why), or that it
// was cancelled.
void LogCheckRefusal(const ReplaceAnswer& answer);

// A warning box with the text id formatted with path ("%s").
void ShowBox(unsigned id, const std::string& path);
// The same box followed by the system's reason for error, in parentheses.
void ShowBoxWithReason(unsigned id, const std::string& path, int error);

// A box for a file that cannot be opened, created or renamed: the program's disk error
// (1220 or 1221), then a line naming the file (detailId: "%s" the path, "%s" the reason)
// with the system's reason for error.
void ShowDiskErrorBox(unsigned diskErrorId, unsigned detailId, const std::string& path, int error);
// The same box, its text also logged (with a line end), so that a saved log keeps the file
// and the reason.
void ReportDiskError(unsigned diskErrorId, unsigned detailId, const std::string& path, int error);
// The write-error box for an output that could not be opened to replace path: naming its
// folder when the temporary file could not be made there, else the file itself.
void ShowOutputOpenError(const OutputFile& output, const std::string& path, int error);
// The same box, its text also logged.
void ReportOutputOpenError(const OutputFile& output, const std::string& path, int error);
