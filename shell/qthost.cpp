#include "shell/qthost.h"

#include <QCoreApplication>
#include <QThread>

#include "shell/mainframe.h"

QtMainWindowHost& QtMainWindowHost::Instance()
{
    // Never destroyed: a worker may still hold the host while the process ends.
    static QtMainWindowHost* host = new QtMainWindowHost;
    return *host;
}

void QtMainWindowHost::Attach(CMainFrame* frame)
{
    m_frame = frame;
    SetMainWindowHost(frame != nullptr ? this : nullptr);
}

void QtMainWindowHost::RunOnMainAndWait(const std::function<void()>& fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    // Blocks the worker until the GUI thread has run fn. Should the event loop be gone, Qt
    // drops the call and releases the worker without running it.
    QMetaObject::invokeMethod(
        this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void QtMainWindowHost::RunOnMainLater(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtMainWindowHost::JobStateChanged(JobState state)
{
    if (m_frame) {
        m_frame->JobStateChanged(state);
    }
}

void QtMainWindowHost::JobBusy()
{
    if (m_frame) {
        m_frame->JobBusy();
    }
}

void QtMainWindowHost::JobBusyEnded()
{
    if (m_frame) {
        m_frame->JobBusyEnded();
    }
}

void QtMainWindowHost::JobEnded(JobKind kind, bool succeeded, const std::string& closingLine)
{
    if (m_frame) {
        m_frame->JobEnded(kind, succeeded, closingLine);
    }
}

bool QtMainWindowHost::AppendToStatusLog(const std::string& text)
{
    return m_frame ? m_frame->AppendToStatusLog(text) : false;
}

void QtMainWindowHost::SetProgressPosition(int percent)
{
    if (m_frame) {
        m_frame->SetProgressPosition(percent);
    }
}

void QtMainWindowHost::SetStatusPaneText(const std::string& text)
{
    if (m_frame) {
        m_frame->SetStatusPaneText(text);
    }
}

int QtMainWindowHost::ShowMessageBox(const std::string& text, unsigned type)
{
    if (m_frame) {
        return m_frame->ShowMessageBox(text, type);
    }
    return (type & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK;
}

std::optional<std::string> QtMainWindowHost::FindVolume(const FindVolumeRequest& request)
{
    return m_frame ? m_frame->FindVolume(request) : std::nullopt;
}
