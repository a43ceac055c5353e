#include "cli/consolehost.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"

namespace {

constexpr int kBarWidth = 30;

std::string ConsoleLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \n") - first + 1);
}

// The banner a pack or an unpack ends its log with, whether it succeeded or not.
bool IsClosingBanner(const std::string& shown)
{
    return shown == Trimmed(ConsoleLineEnds(LoadString(IDS_PACK_END))) ||
           shown == Trimmed(ConsoleLineEnds(LoadString(IDS_UNPACK_END)));
}

} // namespace

ConsoleHost::ConsoleHost(Answer answer)
    : m_answer(answer),
      m_terminal(isatty(STDERR_FILENO) != 0),
      m_canAsk(isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0),
      m_startFolder(CurrentDirectory())
{
    SetMainWindowHost(this);
}

ConsoleHost::ConsoleHost(Answer answer, ConsoleBatch& batch, std::string label)
    : m_answer(answer),
      m_terminal(false),
      m_canAsk(isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0),
      m_startFolder(CurrentDirectory()),
      m_batch(&batch),
      m_label(std::move(label))
{
}

std::string ConsoleHost::TakeLog()
{
    ReleaseBanner();
    if (!m_atLineStart)
        WriteText("\n");
    std::string log = std::move(m_captured);
    m_captured.clear();
    return log;
}

ConsoleHost::~ConsoleHost()
{
    if (m_batch)
        return; // its log was taken, or is not shown
    ReleaseBanner();
    ClearStatusLine();
    if (!m_atLineStart)
        std::fputc('\n', stderr);
    if (GetMainWindowHost() == this)
        SetMainWindowHost(nullptr);
}

void ConsoleHost::RunUntilJobEnds()
{
    m_loop.RunUntil([] { return RunningWorkerThreads() == 0 && g_nJobState == JOB_IDLE; });
    ClearStatusLine();
}

void ConsoleHost::PrintLine(const std::string& text)
{
    ReleaseBanner();
    PrintFailureLine(text);
}

void ConsoleHost::PrintFailureLine(const std::string& text)
{
    ClearStatusLine();
    if (!m_atLineStart)
        std::fputc('\n', stderr);
    WriteText(text);
    if (!m_atLineStart)
        WriteText("\n");
}

// A batch job's host is its own: its requests run on the job's thread, in order, and touch
// only this host. The main thread runs only the questions asked at the terminal.
void ConsoleHost::RunOnMainAndWait(const std::function<void()>& fn)
{
    if (m_batch)
        fn();
    else
        m_loop.Send(fn);
}

void ConsoleHost::RunOnMainLater(std::function<void()> fn)
{
    if (m_batch)
        fn();
    else
        m_loop.Post(std::move(fn));
}

void ConsoleHost::JobStateChanged(JobState state)
{
    PlainStepChanged(state);
    // The process's job state is the one job's of a single-file command; a batch job's
    // state stays its own.
    if (!m_batch)
        SetJobState(state);
}

bool ConsoleHost::AsksLive(bool question) const
{
    return m_batch && !m_live && question && m_canAsk && m_answer == Answer::Ask;
}

void ConsoleHost::RunLive(const std::function<void()>& ask)
{
    m_batch->loop.Send([&] {
        if (m_batch->clearBar)
            m_batch->clearBar();
        const bool atLineStart = m_atLineStart;
        m_live = true;
        m_atLineStart = true;
        WriteText(m_label + ": ");
        ask();
        if (!m_atLineStart)
            WriteText("\n");
        m_live = false;
        m_atLineStart = atLineStart;
    });
}

void ConsoleHost::JobEnded(JobKind, bool, const std::string& closingLine)
{
    if (!closingLine.empty())
        AppendToStatusLog(closingLine);
}

std::optional<std::string> ConsoleHost::FindVolume(const FindVolumeRequest& request)
{
    if (!AsksLive(true))
        return FindVolumeHere(request);
    std::optional<std::string> answer;
    RunLive([&] { answer = FindVolumeHere(request); });
    return answer;
}

std::optional<std::string> ConsoleHost::FindVolumeHere(const FindVolumeRequest& request)
{
    const std::string name = request.strName + "." + request.strExt;
    const long volume = request.nVolume;       // counted from 0, as the volumes' names count
    const long volumes = request.nVolumes - 1; // the last volume's number
    ClearStatusLine();
    if (!m_atLineStart)
        WriteText("\n");
    if (!m_canAsk) {
        WriteText(FormatText(LoadString(IDS_CLI_FIND_VOLUME_NO_TERMINAL).c_str(), volume, volumes,
                             name.c_str()) +
                  "\n");
        DrawStatusLine();
        return std::nullopt;
    }
    WriteText(
        FormatText(LoadString(IDS_CLI_FIND_VOLUME_PROMPT).c_str(), volume, volumes, name.c_str()));
    std::fflush(stderr);
    std::string line;
    const bool answered = static_cast<bool>(std::getline(std::cin, line));
    if (!answered)
        WriteText("\n");
    m_atLineStart = true;
    // Blanks around the path, and the quotes a terminal puts around a dropped file, go.
    const char* blanks = " \t\r";
    const std::size_t first = line.find_first_not_of(blanks);
    line = first == std::string::npos
               ? std::string()
               : line.substr(first, line.find_last_not_of(blanks) - first + 1);
    if (line.size() >= 2 && (line.front() == '\'' || line.front() == '"') &&
        line.back() == line.front())
        line = line.substr(1, line.size() - 2);
    DrawStatusLine();
    if (line.empty())
        return std::nullopt;
    if (line.front() != '/' && !m_startFolder.empty())
        line = m_startFolder + "/" + line;
    return line;
}

bool ConsoleHost::AppendToStatusLog(const std::string& text)
{
    const std::string shown = Trimmed(ConsoleLineEnds(text));
    // The line break that ends the log's copy of a notice goes with it; so does one between.
    if (shown.empty() && (!m_lastNotice.empty() || m_skippedNotice)) {
        m_skippedNotice = false;
        return true;
    }
    m_skippedNotice = !m_lastNotice.empty() && shown == m_lastNotice;
    m_lastNotice.clear();
    if (m_skippedNotice)
        return true;
    ReleaseBanner();
    if (IsClosingBanner(shown)) {
        m_heldBanner = text;
        return true;
    }
    ClearStatusLine();
    WriteText(text);
    DrawStatusLine();
    return true;
}

void ConsoleHost::ReleaseBanner()
{
    if (m_heldBanner.empty())
        return;
    const std::string banner = std::move(m_heldBanner);
    m_heldBanner.clear();
    ClearStatusLine();
    WriteText(banner);
    DrawStatusLine();
}

void ConsoleHost::SetProgressPosition(int percent)
{
    if (m_quiet)
        return;
    if (m_batch && !m_plain) {
        // The main thread draws the batch's bar from every job's progress.
        if (m_batchProgress.exchange(percent) != percent && m_batch->drawsBar)
            m_batch->loop.Wake();
        return;
    }
    if (m_plain) {
        if (m_plainActive && percent != m_plainPercent)
            PrintPlainProgress(percent);
        return;
    }
    if (percent == m_progress)
        return;
    m_progress = percent;
    DrawStatusLine();
}

void ConsoleHost::SetStatusPaneText(const std::string& text)
{
    m_state = text;
    DrawStatusLine();
}

void ConsoleHost::SetPlainProgress(bool plain)
{
    m_plain = plain;
    if (plain)
        m_terminal = false; // the lines take the bar's place
}

void ConsoleHost::SetProgressQuiet(bool quiet)
{
    m_quiet = quiet;
}

void ConsoleHost::FinishPlainProgress()
{
    if (m_plain && !m_plainStep.empty() && m_plainPercent < 100)
        PrintPlainProgress(100);
}

void ConsoleHost::PlainStepChanged(int state)
{
    if (!m_plain || m_quiet)
        return;
    const char* step = nullptr;
    switch (state) {
    case JOB_COMPRESSING: step = "compress"; break;
    case JOB_SPLITTING: step = "split"; break;
    case JOB_JOINING: step = "join"; break;
    case JOB_DECOMPRESSING: step = "expand"; break;
    default: break;
    }
    if (!step) {
        m_plainActive = false; // the job has ended; its last step stays for FinishPlainProgress
        return;
    }
    // The step before has ended well: the job only goes on to the next one after it.
    if (m_plainActive && m_plainStep != step && m_plainPercent < 100)
        PrintPlainProgress(100);
    if (m_plainActive && m_plainStep == step)
        return;
    m_plainStep = step;
    m_plainActive = true;
    PrintPlainProgress(0);
}

void ConsoleHost::PrintPlainProgress(int percent)
{
    m_plainPercent = percent;
    if (m_batch) {
        // Printed at once, whole, between the other jobs' lines.
        const std::lock_guard<std::mutex> lock(m_batch->output);
        std::fprintf(stderr, "%s: %s %d\n", m_label.c_str(), m_plainStep.c_str(), percent);
        std::fflush(stderr);
        return;
    }
    if (!m_atLineStart)
        WriteText("\n");
    WriteText(m_plainStep + " " + std::to_string(percent) + "\n");
}

int ConsoleHost::ShowMessageBox(const std::string& text, unsigned type)
{
    if (!AsksLive((type & 0x0Fu) == MB_OKCANCEL))
        return ShowMessageBoxHere(text, type);
    // Asked at the terminal while the other jobs go on; the log keeps the question too.
    int answer = IDCANCEL;
    RunLive([&] { answer = ShowMessageBoxHere(text, type); });
    WriteText(text + LoadString(IDS_CLI_ANSWER_YES_NO) + (answer == IDOK ? "y\n" : "n\n"));
    return answer;
}

int ConsoleHost::ShowMessageBoxHere(const std::string& text, unsigned type)
{
    ClearStatusLine();
    if (!m_atLineStart)
        WriteText("\n");
    const bool question = (type & 0x0Fu) == MB_OKCANCEL;
    int answer = IDOK;
    if (!question) {
        WriteText(text + "\n");
        m_lastNotice = Trimmed(ConsoleLineEnds(text));
    } else if (m_answer == Answer::Yes) {
        WriteText(text + LoadString(IDS_CLI_ANSWER_YES_NO) + "y\n");
    } else if (m_answer == Answer::No) {
        WriteText(text + LoadString(IDS_CLI_ANSWER_YES_NO) + "n\n");
        answer = IDCANCEL;
    } else if (m_canAsk) {
        answer = AskAtTerminal(text, (type & MB_YESTOALL) != 0);
    } else {
        WriteText(text + "\n" + LoadString(IDS_CLI_NO_TERMINAL) + "\n");
        answer = IDCANCEL;
        // That line says it was cancelled: the job's own line that says so is not repeated.
        m_lastNotice = Trimmed(ConsoleLineEnds(LoadString(IDS_ABORTED_BY_USER)));
    }
    DrawStatusLine();
    return answer;
}

int ConsoleHost::AskAtTerminal(const std::string& text, bool offerAll)
{
    for (;;) {
        WriteText(text + LoadString(offerAll ? IDS_CLI_ANSWER_YES_NO_ALL : IDS_CLI_ANSWER_YES_NO));
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) {
            WriteText("\n");
            return IDCANCEL; // end of input: nobody agreed
        }
        m_atLineStart = true; // the user's Enter ended the line
        if (line == "y" || line == "Y" || line == "yes")
            return IDOK;
        if (line == "n" || line == "N" || line == "no")
            return IDCANCEL;
        if (offerAll && (line == "a" || line == "A" || line == "all"))
            return IDYESTOALL;
    }
}

void ConsoleHost::WriteText(const std::string& text)
{
    const std::string out = ConsoleLineEnds(text);
    if (out.empty())
        return;
    if (m_batch && !m_live) {
        m_captured += out;
        m_atLineStart = out.back() == '\n';
        return;
    }
    std::fwrite(out.data(), 1, out.size(), stderr);
    m_atLineStart = out.back() == '\n';
    std::fflush(stderr);
}

void ConsoleHost::ClearStatusLine()
{
    if (!m_statusLineShown)
        return;
    std::fputs("\r\033[K", stderr);
    m_statusLineShown = false;
}

void ConsoleHost::DrawStatusLine()
{
    // Drawn only below a finished log line, so that a line the job is still writing (a volume's
    // "Creating split file ..." before its "Done") is never broken.
    if (!m_terminal || !m_atLineStart || (m_progress < 0 && m_state.empty()))
        return;
    std::string line = "\r\033[K";
    if (m_progress >= 0) {
        const int filled = m_progress * kBarWidth / 100;
        line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] ";
        const std::string percent = std::to_string(m_progress);
        line += std::string(3 - std::min<std::size_t>(3, percent.size()), ' ') + percent + "%  ";
    }
    line += m_state;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_statusLineShown = true;
}
