// CMainFrame: the main window with its menu, toolbar, status bar and the form.
//
// It carries the commands (the jobs themselves, from dialog to the log's last line, are
// WindowJobs'), shows the job state the workers report, greys the job commands and refuses to
// close while a job runs, shows the wait cursor while a job compresses or decompresses, and
// lets a worker ask the user for a missing volume.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <string>

#include "platform/files.h"
#include "platform/mainwindow.h"
#include "shell/windowjobs.h"

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMimeData;
class QLabel;
class QTimer;
class WaitCursor;
class CZUNPackView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    CZUNPackView* View() const { return m_view; }
    // The command's action: ID_PACK_PROJECT, ID_UNPACK_PROJECT, ID_APP_EXIT, ID_HELP_TOPICS,
    // ID_TEST_PACKED, ID_APP_ABOUT, ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE.
    QAction* Action(int commandId) const { return m_actions.value(commandId); }
    // The text of the status bar's message pane (pane 0).
    QString PaneText() const;
    // The text of an indicator pane (ID_INDICATOR_CAPS, _NUM, _SCRL); empty while off.
    QString IndicatorText(int indicatorId) const;
    bool IsWaitCursorShown() const;
    // The request of the last Pack command: what the Pack dialog handed to the job.
    const PackRequest& LastPackRequest() const { return m_jobs->LastPackRequest(); }

    // What a job reports to the main window, on the GUI thread: its state (the status bar and
    // the commands follow it), the wait cursor, and its end (which closes the window's job:
    // the closing line when it succeeded, else the window's own line that it did not).
    void JobStateChanged(JobState state);
    void JobBusy();
    void JobBusyEnded();
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine);
    // The rest of what the channel asks of the main window, on the GUI thread.
    bool AppendToStatusLog(const std::string& text);
    void SetProgressPosition(int percent);
    void SetStatusPaneText(const std::string& text);
    int ShowMessageBox(const std::string& text, unsigned type);
    // The chooser for a missing volume, opened in the job's folder: the path chosen, or none.
    std::optional<std::string> FindVolume(const FindVolumeRequest& request);

    // Commands.
    void OnPackProject();
    void OnUnpackProject();
    // Test: says in the log whether the field's packed file (or set) is sound, restoring
    // nothing.
    void OnTestPacked();
    void OnAppExit();
    void OnHelpTopics();
    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnFileSave();
    // Cancel (the button beside the bar, Escape): asks the running job to stop.
    void OnCancelJob();
    // What Cancel calls: the platform's cancel request, unless a test puts its own here.
    void SetCancelRequest(std::function<void()> request);

    // True from a command's OK until the job's last line is in the log.
    bool IsJobRunning() const { return m_jobs->IsRunning(); }

    // Places the window where it was when it last closed, kept on the screen.
    void RestoreGeometry();
    // A second start of the program hands over its command ('G' names the file, 'P' and 'U'
    // also run Pack or Unpack) and its file (null: none): the file fills the field, and the
    // window comes to the front. False when a job runs and the request was not taken (the
    // field names the job's file); a start without file or command is always taken.
    bool OpenFromAnotherStart(char command, const QString& file);
    // The file a drop carries when it is one project or packed file (.kmx, .0KX, .0RV), else
    // an empty text.
    static QString DroppedFile(const QMimeData* data);
    // The project and packed files a drop of several files carries (any other file, such as
    // a set's later volume, is left out), each once.
    static QStringList DroppedFiles(const QMimeData* data);

    // Enables the job commands and Exit exactly when no job runs.
    void UpdateCommandStates();
    // True when no job runs. Otherwise the user is told to wait (IDS_WAIT_FOR_JOB) and asked
    // whether to stop the job and quit: the job is then cancelled, ending as Cancel ends it,
    // and the window closes once it has ended.
    bool CanCloseNow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    QMenu* createPopupMenu() override;

private:
    QAction* createAction(int commandId, const QString& text, unsigned promptId,
                          const char* objectName);
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void updateLockIndicators();
    // True when the window takes a drop of these data: one project or packed file at any
    // time, several while no job runs.
    bool TakesDrop(const QMimeData* mime) const;
    // Closes the window once the job stopped on closing has ended.
    void closeIfStoppedJobEnded();

    CZUNPackView* m_view = nullptr;
    QHash<int, QAction*> m_actions;
    QLabel* m_paneMessage = nullptr;
    QHash<int, QLabel*> m_indicators;
    QTimer* m_lockKeyTimer = nullptr;
    // The wait cursor while a job works through its data.
    std::unique_ptr<WaitCursor> m_waitCursor;
    std::function<void()> m_cancelRequest = [] { RequestCancel(); };
    // The jobs started from the window's commands.
    std::unique_ptr<WindowJobs> m_jobs;
    // The user chose to stop the job and quit: the window closes when the job has ended.
    bool m_closeWhenJobEnds = false;
};
