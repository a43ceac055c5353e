#include "tests/support/testhost.h"

#include <cstdlib>
#include <cstring>

#include "engine/jobcontext.h"
#include "platform/thread.h"

TestHost::TestHost()
{
    SetMainWindowHost(this);
}

TestHost::~TestHost()
{
    if (GetMainWindowHost() == this)
        SetMainWindowHost(nullptr);
}

void TestHost::AnswerNextBoxes(std::initializer_list<int> answers)
{
    m_boxAnswers.insert(m_boxAnswers.end(), answers.begin(), answers.end());
}

void TestHost::AnswerNextFindFile(const std::string& path)
{
    m_findFileAnswers.push_back(path);
}

void TestHost::RunUntilJobEnds()
{
    m_loop.RunUntil([] { return RunningWorkerThreads() == 0 && g_nJobState == JOB_IDLE; });
}

std::string TestHost::LogText() const
{
    std::string log;
    for (const HostEvent& e : m_events)
        if (e.kind == HostEvent::Log)
            log += e.text;
    return log;
}

std::vector<std::string> TestHost::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const HostEvent& e : m_events)
        if (e.kind == HostEvent::MessageBox)
            texts.push_back(e.text);
    return texts;
}

std::vector<long> TestHost::States() const
{
    std::vector<long> states;
    for (const HostEvent& e : m_events)
        if (e.kind == HostEvent::JobState)
            states.push_back(e.value);
    return states;
}

int TestHost::Count(HostEvent::Kind kind) const
{
    int n = 0;
    for (const HostEvent& e : m_events)
        n += e.kind == kind ? 1 : 0;
    return n;
}

void TestHost::RunOnMainAndWait(const std::function<void()>& fn)
{
    m_loop.Send(fn);
}

void TestHost::RunOnMainLater(std::function<void()> fn)
{
    m_loop.Post(std::move(fn));
}

void TestHost::JobStateChanged(JobState state)
{
    m_events.push_back({HostEvent::JobState, {}, static_cast<long>(state)});
    SetJobState(state);
}

void TestHost::JobBusy()
{
    m_events.push_back({HostEvent::Busy, {}, 0});
}

void TestHost::JobBusyEnded()
{
    m_events.push_back({HostEvent::Done, {}, 0});
}

void TestHost::JobEnded(JobKind kind, bool succeeded, const std::string& closingLine)
{
    m_endings.push_back({kind, succeeded});
    if (!closingLine.empty())
        AppendToStatusLog(closingLine);
}

bool TestHost::AppendToStatusLog(const std::string& text)
{
    if (!m_hasLog)
        return false;
    m_events.push_back({HostEvent::Log, text, 0});
    return true;
}

void TestHost::SetProgressPosition(int percent)
{
    m_events.push_back({HostEvent::Progress, {}, percent});
    if (m_progressWatch)
        m_progressWatch(percent);
}

void TestHost::SetStatusPaneText(const std::string& text)
{
    m_events.push_back({HostEvent::Pane, text, 0});
}

int TestHost::ShowMessageBox(const std::string& text, unsigned type)
{
    m_events.push_back({HostEvent::MessageBox, text, static_cast<long>(type)});
    if (m_boxAnswers.empty()) {
        ++m_unscriptedBoxes;
        return (type & 0x0Fu) == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    const int answer = m_boxAnswers.front();
    m_boxAnswers.pop_front();
    return answer;
}

std::optional<std::string> TestHost::FindVolume(const FindVolumeRequest& request)
{
    m_events.push_back({HostEvent::FindFile, request.strName + "." + request.strExt, 0});
    if (m_findFileAnswers.empty())
        return std::nullopt;
    const std::string path = m_findFileAnswers.front();
    m_findFileAnswers.pop_front();
    if (path.empty())
        return std::nullopt;
    return path;
}
