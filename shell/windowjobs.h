// WindowJobs: the jobs the main window starts, from the command's dialog to the last line of
// the job's log.
//
// Pack, Unpack and Test each ask their dialog, name the file in the form, empty the log and
// the bar, build the job's request and start it. The job reports its end (JobEnded) with its
// kind and whether it succeeded; the log then closes with the job's closing line when it
// succeeded, else with the window's own line that the job did not complete. The window's
// chrome (menus, bars, closing, the wait cursor) stays in CMainFrame.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

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

    // A job has ended: closes the log of the window's job of that kind. The closing line of a
    // job the window did not start goes into the log like any other text.
    void JobEnded(JobKind kind, bool succeeded, const std::string& closingLine);

    // True from a command's OK until the job's last line is in the log.
    bool IsRunning() const { return m_kind.has_value(); }
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
    // Asks the command's dialog with the proposed file name. When it is confirmed, the job
    // of that kind begins on the file (Begin), whose full path the job's request takes.
    template <class Dialog>
    std::optional<std::string> Confirm(Dialog& dialog, const QString& proposal, JobKind kind);
    // A job is asked for: the form gets its full path, an empty log and an empty bar.
    void Begin(JobKind kind, const QString& path);
    // Closes the job's log: its closing line when it succeeded, else the program's own line
    // that the job did not complete.
    void End(bool succeeded, const QString& closingLine = QString());

    QWidget* m_owner;
    CZUNPackView* m_view;
    // The job the window started and has not closed yet.
    std::optional<JobKind> m_kind;
    QString m_folder;
    // The last Pack command's request, and what its job answered.
    PackRequest m_packRequest;
    PackOutcome m_packOutcome;
    // The last Unpack command's request, and what its worker answered.
    UnpackRequest m_unpackRequest;
    UnpackOutcome m_unpackOutcome;
    // What the last test's worker found.
    TestOutcome m_testOutcome;
};
