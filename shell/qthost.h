// The Qt host of the main-window channel: how a job's requests reach the main frame.
//
// A request from a worker becomes a queued call onto the GUI thread: a send blocks the worker
// until the GUI thread has run it, a post returns at once. On the GUI thread itself a send is
// a direct call. The host lives for the whole process and forwards to the frame while there
// is one, so a worker that reports after the window has gone reaches no destroyed widget.
#pragma once

#include <QObject>
#include <QPointer>

#include "platform/mainwindow.h"

class CMainFrame;

class QtMainWindowHost : public QObject, public MainWindowHost {
    Q_OBJECT
public:
    // The one host, created on the GUI thread on first use.
    static QtMainWindowHost& Instance();

    // The frame that handles the requests from now on (null: none).
    void Attach(CMainFrame* frame);
    CMainFrame* Frame() const { return m_frame.data(); }

    void RunOnMainAndWait(const std::function<void()>& fn) override;
    void RunOnMainLater(std::function<void()> fn) override;
    void JobStateChanged(JobState state) override;
    void JobBusy() override;
    void JobBusyEnded() override;
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine) override;
    bool AppendToStatusLog(const std::string& text) override;
    void SetProgressPosition(int percent) override;
    void SetStatusPaneText(const std::string& text) override;
    int ShowMessageBox(const std::string& text, unsigned type) override;
    std::optional<std::string> FindVolume(const FindVolumeRequest& request) override;

private:
    QtMainWindowHost() = default;
    QPointer<CMainFrame> m_frame;
};
