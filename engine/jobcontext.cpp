// The process state and the reporting of a job to the user.
//
// Everything a job shows goes through the main window: log lines and the progress bar are
// sent (the worker waits, so lines appear in the order the job writes them), the job state is
// posted, and message boxes are shown by the main thread while the worker waits.
#include "engine/jobcontext.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/format.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "resources/textids.h"

int g_nJobState = JOB_IDLE;

void AppendStatus(const std::string& text)
{
    if (text.empty())
        return;
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    // The host appends at the end of its log; a log that is not there is skipped silently.
    host->RunOnMainAndWait([&] { host->AppendToStatusLog(text); });
}

void AppendStatusId(unsigned id)
{
    AppendStatus(LoadString(id));
}

void ReportJobEnded(JobKind kind, bool succeeded, unsigned closingId)
{
    const std::string closingLine = closingId != 0 ? LoadString(closingId) : std::string();
    SendJobEnded(kind, succeeded, closingLine);
}

void SetProgress(int percent)
{
    MainWindowHost* host = GetMainWindowHost();
    if (!host)
        return;
    host->RunOnMainAndWait([&] { host->SetProgressPosition(percent); });
}

void SetJobState(int state)
{
    unsigned textId = 0;
    switch (state) {
    case JOB_IDLE: textId = IDS_READY; break;
    case JOB_COMPRESSING: textId = IDS_STATE_COMPRESSING; break;
    case JOB_SPLITTING: textId = IDS_STATE_SPLITTING; break;
    case JOB_DECOMPRESSING: textId = IDS_STATE_DECOMPRESSING; break;
    case JOB_JOINING: textId = IDS_STATE_JOINING; break;
    default: break;
    }
    if (MainWindowHost* host = GetMainWindowHost())
        host->SetStatusPaneText(textId ? LoadString(textId) : std::string());
    g_nJobState = state;
}

void EnableWhenIdle(CommandUpdate& cmd)
{
    cmd.Enable(g_nJobState == JOB_IDLE);
}

int CheckStream(std::FILE* stream, int messageId)
{
    if (!StreamFailed(stream))
        return 1;
    if (messageId != -1)
        ShowMessageBoxOwnedByMain(LoadString(static_cast<unsigned>(messageId)),
                                  MB_OK | MB_ICONEXCLAMATION);
    return 0;
}

namespace {

// The question both checks ask: go on when nothing is under the name or the user agreed to
// replace it (exists then says which), else why not. With answers, a "Yes to all" given before
// answers it, and moreFiles > 0 offers that answer.
ReplaceAnswer AskAboutExistingFile(const std::string& path, const std::string& shownName,
                                   bool& exists, ReplaceAnswers* answers = nullptr,
                                   long moreFiles = 0)
{
    exists = false;
    const ReplaceAnswer byProgram{CheckRefusal::ByProgram};
    if (CancelRequested())
        return byProgram;
    switch (LookUpFile(path)) {
    case FileLookup::Missing: return {};
    case FileLookup::InvalidName: {
        // A name too long, or a part of the path that is no folder: the system says which.
        const int error = path.empty() ? ENOENT : errno;
        ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_CANNOT_WRITE_FILE).c_str(),
                                             shownName.c_str(), SystemErrorText(error).c_str()),
                                  MB_OK | MB_ICONEXCLAMATION);
        return byProgram;
    }
    case FileLookup::Exists: break;
    }
    if (answers && answers->yesToAll) {
        exists = true;
        return {};
    }
    std::string question =
        FormatText(LoadString(IDS_OVERWRITE_QUESTION).c_str(), shownName.c_str());
    unsigned type = MB_OKCANCEL | MB_ICONEXCLAMATION;
    if (answers && moreFiles > 0) {
        question += "\n\n" + FormatText(LoadString(IDS_REPLACE_MORE_FILES).c_str(), moreFiles);
        type |= MB_YESTOALL;
    }
    const int answer = ShowMessageBoxOwnedByMain(question, type);
    const bool all = answer == IDYESTOALL && (type & MB_YESTOALL) != 0;
    if (all)
        answers->yesToAll = true;
    if (answer != IDOK && !all) {
        // A box that a cancel request answered was no answer of the user's.
        return {CancelRequested() ? CheckRefusal::ByProgram : CheckRefusal::ByUser};
    }
    exists = true;
    return {};
}

} // namespace

ReplaceAnswer CheckExistingFile(const std::string& path, const std::string& shownName,
                                const std::string& keptExtension)
{
    bool exists = false;
    const ReplaceAnswer answer = AskAboutExistingFile(path, shownName, exists);
    if (!answer)
        return answer;
    // An empty extension is found in every path: the file is then left in place for the
    // caller to write over. Otherwise a path without it is removed.
    if (!exists || path.find(keptExtension) != std::string::npos || std::remove(path.c_str()) == 0)
        return answer;
    const int error = errno;
    ShowMessageBoxOwnedByMain(
        FormatText(LoadString(IDS_CANNOT_REMOVE).c_str(), shownName.c_str()) + "\n" +
            FormatText(LoadString(IDS_SYSTEM_REASON).c_str(), SystemErrorText(error).c_str()),
        MB_OK | MB_ICONEXCLAMATION);
    return {CheckRefusal::ByProgram};
}

ReplaceAnswer AskBeforeReplacing(const std::string& path)
{
    bool exists = false;
    return AskAboutExistingFile(path, path, exists);
}

ReplaceAnswer AskBeforeReplacing(const std::string& path, ReplaceAnswers& answers, long moreFiles)
{
    bool exists = false;
    return AskAboutExistingFile(path, path, exists, &answers, moreFiles);
}

void LogCheckRefusal(const ReplaceAnswer& answer)
{
    if (CancelRequested())
        AppendStatusId(IDS_JOB_CANCELLED);
    else if (answer.refusal == CheckRefusal::ByUser)
        AppendStatusId(IDS_ABORTED_BY_USER);
    else
        AppendStatusId(IDS_STOPPED_BY_PROGRAM);
}

void ShowOutputOpenError(const OutputFile& output, const std::string& path, int error)
{
    if (output.FolderFailed())
        ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_CREATE_IN_FOLDER, output.Folder(), error);
    else
        ShowDiskErrorBox(IDS_WRITE_ERROR, IDS_CANNOT_WRITE_FILE, path, error);
}

namespace {

std::string DiskErrorText(unsigned diskErrorId, unsigned detailId, const std::string& path,
                          int error)
{
    return LoadString(diskErrorId) + "\n" +
           FormatText(LoadString(detailId).c_str(), path.c_str(), SystemErrorText(error).c_str());
}

} // namespace

void ShowDiskErrorBox(unsigned diskErrorId, unsigned detailId, const std::string& path, int error)
{
    ShowMessageBoxOwnedByMain(DiskErrorText(diskErrorId, detailId, path, error),
                              MB_OK | MB_ICONEXCLAMATION);
}

void ReportDiskError(unsigned diskErrorId, unsigned detailId, const std::string& path, int error)
{
    const std::string text = DiskErrorText(diskErrorId, detailId, path, error);
    ShowMessageBoxOwnedByMain(text, MB_OK | MB_ICONEXCLAMATION);
    // The same text, so that the console, which prints the box, shows it once.
    AppendStatus(text + "\r\n");
}

void ReportOutputOpenError(const OutputFile& output, const std::string& path, int error)
{
    if (output.FolderFailed())
        ReportDiskError(IDS_WRITE_ERROR, IDS_CANNOT_CREATE_IN_FOLDER, output.Folder(), error);
    else
        ReportDiskError(IDS_WRITE_ERROR, IDS_CANNOT_WRITE_FILE, path, error);
}

void ShowBox(unsigned id, const std::string& path)
{
    ShowMessageBoxOwnedByMain(FormatText(LoadString(id).c_str(), path.c_str()),
                              MB_OK | MB_ICONEXCLAMATION);
}

void ShowBoxWithReason(unsigned id, const std::string& path, int error)
{
    ShowMessageBoxOwnedByMain(FormatText(LoadString(id).c_str(), path.c_str()) + " (" +
                                  std::strerror(error) + ")",
                              MB_OK | MB_ICONEXCLAMATION);
}
