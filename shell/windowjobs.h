// WindowJobs: the jobs the main window starts, from the command's dialog to the last line of
// the job's log.
//
// Pack, Unpack and Test each ask their dialog, name the file in the form, empty the log and
// the bar, build the job's request and start it. The job reports its end (JobEnded) with its
// kind and whether it succeeded; the log then closes with the job's closing line when it
// succeeded, else with the window's own line that the job did not complete. The window's
// chrome (menus, bars, closing, the wait cursor) stays in CMainFrame.
//
// Several files chosen in a command's dialog, or dropped on the window, form a queue: their
// jobs run one after another, each one as a single file's does, the log keeps each job's
// lines under a heading with its file, the form's queue list shows each file's state, and
// the log ends with the summary the console's batches print (engine/batchsummary.h). One
// file has no heading, no list and no summary: it is the job it has always been.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/packjob.h"
#include "engine/testjob.h"
#include "engine/unpackjob.h"
#include "platform/mainwindow.h"

class CZUNPackView;
class QWidget;

class WindowJobs {
public:
    // owner: the window that owns the dialogs; view: the form the jobs fill.
    WindowJobs(QWidget* owner, CZUNPackView* view);
    ~WindowJobs();
    WindowJobs(const WindowJobs&) = delete;
    WindowJobs& operator=(const WindowJobs&) = delete;

    // The commands: Pack the project file, Unpack a packed file, Test a packed file (says in
    // the log whether it, or its set, is sound, restoring nothing). Each returns at once when
    // its dialog is cancelled.
    void Pack();
    void Unpack();
    void Test();
    // Several project or packed files dropped on the window: the project files are packed
    // and the packed files unpacked, each group after its command's dialog (which names the
    // group's files and may be cancelled), in one queue.
    void QueueDropped(const QStringList& files);

    // Cancel was pressed while a job ran: once it has ended, a queue with files still
    // waiting asks whether to drop them too.
    void CancelPressed();
    // The window closes: the files still waiting are not started.
    void DropRest() { m_dropRest = true; }

    // A job has ended: closes the log of the window's job of that kind. The closing line of a
    // job the window did not start goes into the log like any other text.
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine);

    // True from a command's OK until the job's last line is in the log; for a queue, until
    // its summary is.
    bool IsRunning() const { return m_kind.has_value() || m_queueGoesOn; }
    // In a queue, the file whose job runs, which every box the job shows names; else empty.
    QString RunningQueuedFile() const;
    // The request of the last Pack command: what the Pack dialog handed to the job.
    const PackRequest& LastPackRequest() const { return m_packRequest; }
    // The folder of the file the last job worked on, where a chooser for a volume opens.
    const QString& Folder() const { return m_folder; }

    // The names the commands propose from the form's field: Pack the project file of the
    // field's file; Unpack the field's file in its folder, a project file's name given its
    // packed extension (.kmx: .0KX, .rvn: .0RV). Empty for an empty field.
    static QString PackProposal(const QString& field);
    static QString UnpackProposal(const QString& field);

private:
    // What a queued file is waiting for, doing, or came to.
    enum class FileState {
        Waiting,
        Running,
        Done,
        Failed,
        NotDone
    };
    struct QueuedFile {
        QString path; // full path
        JobKind kind;
        FileState state = FileState::Waiting;
        std::string reason; // why it failed
        // Why its job is not started at all (it would write what an earlier file's does).
        std::string refusal;
    };

    // Asks the command's dialog with the proposed file names. When it is confirmed, the
    // full paths of the files it names.
    template <class Dialog>
    std::optional<QStringList> Confirm(Dialog& dialog, const QString& proposal);
    // The dialogs of the commands, which set the options of their jobs: the files named.
    std::optional<QStringList> AskPack(const QString& proposal);
    std::optional<QStringList> AskUnpack(const QString& proposal);
    // Runs the files' jobs, one after another.
    void RunQueue(JobKind kind, const QStringList& files);
    void RunQueue(std::vector<QueuedFile> files);
    // Starts the next waiting file's job; its end (End) goes on to the file after it.
    void StartNext();
    bool StartJob(JobKind kind, const std::string& path);
    // After a queued file's job: the next file, the question whether to drop the rest, or
    // the summary.
    void GoOn();
    void EndQueue();
    bool IsQueue() const { return m_queue.size() > 1; }
    void ShowState(std::size_t index);
    // A job is asked for: the form gets its full path, an empty log (in a queue, the log
    // goes on under the file's heading) and an empty bar.
    void Begin(JobKind kind, const QString& path);
    // Closes the job's log: its closing line when it succeeded, else the program's own line
    // that the job did not complete.
    void End(bool succeeded, const QString& closingLine = QString());

    QWidget* m_owner;
    CZUNPackView* m_view;
    // The job the window started and has not closed yet.
    std::optional<JobKind> m_kind;
    QString m_folder;
    // The files of the last command, and the one whose job runs.
    std::vector<QueuedFile> m_queue;
    std::size_t m_current = 0;
    // Where the running file's lines begin in the log: what its reason is read from.
    qsizetype m_logStart = 0;
    bool m_queueGoesOn = false;
    bool m_cancelPressed = false;
    bool m_dropRest = false;
    // The options the dialogs chose for every file of their kind.
    PackRequest m_packOptions;
    UnpackRequest m_unpackOptions;
    // The last Pack job's request, and what its job answered.
    PackRequest m_packRequest;
    PackOutcome m_packOutcome;
    // The last Unpack job's request, and what its worker answered.
    UnpackRequest m_unpackRequest;
    UnpackOutcome m_unpackOutcome;
    // What the last test's worker found.
    TestOutcome m_testOutcome;
};
