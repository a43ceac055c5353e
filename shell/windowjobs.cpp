#include "shell/windowjobs.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include "engine/format.h"
#include "engine/names.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/dialogs.h"
#include "shell/modal.h"
#include "shell/settings.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

// The name a dialog confirmed, as the job gets it: trimmed and absolute, so that no job and no
// later proposal depends on the folder the program happens to be in. A relative name is taken
// in the current folder, where the dialog's check has just opened it.
QString FullName(const QString& confirmed)
{
    const QString trimmed = confirmed.trimmed();
    return trimmed.isEmpty() ? trimmed : QFileInfo(trimmed).absoluteFilePath();
}

// The name a command proposes from the form's field (trimmed), or empty for an empty field.
QString Proposal(const QString& field, std::string (*propose)(const std::string&))
{
    const QString trimmed = field.trimmed();
    return trimmed.isEmpty()
               ? QString()
               : QFile::decodeName(propose(QFile::encodeName(trimmed).toStdString()).c_str());
}

} // namespace

WindowJobs::WindowJobs(QWidget* owner, CZUNPackView* view) : m_owner(owner), m_view(view) {}

WindowJobs::~WindowJobs() = default;

QString WindowJobs::PackProposal(const QString& field)
{
    return Proposal(field, ProjectProposalFor);
}

QString WindowJobs::UnpackProposal(const QString& field)
{
    return Proposal(field, PackedProposalFor);
}

template <class Dialog>
std::optional<std::string> WindowJobs::Confirm(Dialog& dialog, const QString& proposal,
                                               JobKind kind)
{
    dialog.SetFileName(proposal);
    if (Modal::RunDialog(dialog) != QDialog::Accepted) {
        return std::nullopt;
    }
    const QString file = FullName(dialog.GetFileName());
    Begin(kind, file);
    return QFile::encodeName(file).toStdString();
}

void WindowJobs::Pack()
{
    CPackProjectDlg dialog(m_owner);
    const std::optional<std::string> project =
        Confirm(dialog, PackProposal(m_view->FileNameField()->text()), JobKind::Pack);
    if (!project) {
        return;
    }
    m_packRequest = PackRequest{};
    m_packRequest.projectPath = *project;
    m_packRequest.split = dialog.IsSeparateFile() != 0;
    m_packRequest.volumeSize = dialog.GetVolumeSize();
    // Recovery files beside the set, as the console's --recovery N, by the same job.
    if (m_packRequest.split)
        m_packRequest.recovery.volumes = dialog.GetRecoveryDisks();
    // With Write checksums the job writes NAME.sha256 beside the set once it is complete, as
    // the console's --manifest does.
    m_packRequest.writeManifest = dialog.IsWriteChecksums() != 0;
    // As the console does: a split is refused before compressing when the folder lacks room.
    m_packRequest.checkRoomFirst = true;
    const bool started = StartPackJob(m_packRequest, m_packOutcome);
    if (!started) {
        End(false);
    }
}

void WindowJobs::Unpack()
{
    CUnpackProjectDlg dialog(m_owner);
    const std::optional<std::string> packed =
        Confirm(dialog, UnpackProposal(m_view->FileNameField()->text()), JobKind::Unpack);
    if (!packed) {
        return;
    }
    UnpackRequest& request = m_unpackRequest;
    request = UnpackRequest{};
    request.packedPath = *packed;
    request.intoFolder = QFile::encodeName(dialog.GetIntoFolder()).toStdString();
    // A manifest of ours beside the packed file: the restored bytes must have its project
    // checksum before they replace the project file. Any other file of that name is left
    // alone, with a warning.
    request.checkManifest = true;
    // Refused before its worker ran (a question answered Cancel): the job has ended already.
    if (!StartUnpackJob(request, m_unpackOutcome)) {
        End(false);
    }
}

void WindowJobs::Test()
{
    // The packed file is named as for Unpack; a test restores nothing.
    CUnpackProjectDlg dialog(m_owner, false);
    dialog.setWindowTitle(Text(IDS_TEST_CAPTION));
    const std::optional<std::string> packed =
        Confirm(dialog, UnpackProposal(m_view->FileNameField()->text()), JobKind::Test);
    if (!packed) {
        return;
    }
    CheckRequest request;
    request.packedPath = *packed;
    request.logReport = true; // the report goes to the Status log
    if (!StartTestJob(request, m_testOutcome)) {
        End(false);
    }
}

void WindowJobs::JobEnded(JobKind kind, bool succeeded, const std::string& closingLine)
{
    const QString line = QString::fromStdString(closingLine);
    if (m_kind != kind) {
        // A job the window did not start: its closing line is text like any other.
        if (!line.isEmpty()) {
            m_view->AppendToLog(line);
        }
        return;
    }
    End(succeeded, line);
}

void WindowJobs::Begin(JobKind kind, const QString& path)
{
    m_view->FileNameField()->setText(path);
    m_view->ClearLog();
    // Every job starts its bar from nothing, also before the questions it may ask, and with
    // no cancel request left from the job before.
    m_view->Progress()->setValue(0);
    ClearCancelRequest();
    m_kind = kind;
    m_folder = QFileInfo(path).absolutePath();
    Settings::SetLastFile(path);
    Settings::SetLastFolder(m_folder);
}

void WindowJobs::End(bool succeeded, const QString& closingLine)
{
    if (!m_kind) {
        return;
    }
    // The closing line says the job is complete, so it stands only under a job that is.
    if (m_kind == JobKind::Test) {
        m_view->AppendToLog(Text(succeeded ? IDS_TEST_SOUND_END : IDS_TEST_NOT_SOUND_END));
    } else if (succeeded) {
        if (m_kind == JobKind::Unpack) {
            // Where the project file went: beside the packed file, or into the folder chosen.
            m_view->AppendToLog(QString::fromStdString(FormatText(
                LoadString(IDS_CLI_RESTORED).c_str(), m_unpackOutcome.projectPath.c_str())));
        }
        if (!closingLine.isEmpty()) {
            m_view->AppendToLog(closingLine);
        }
    } else {
        if (m_kind == JobKind::Unpack && !CancelRequested()) {
            // Read-only media: the way out is another folder to restore into.
            if (const int error = RestoreFolderError(m_unpackRequest)) {
                m_view->AppendToLog(QString::fromStdString(
                    FormatText(LoadString(IDS_WINDOW_FOLDER_NOT_WRITABLE).c_str(),
                               RestoreFolder(m_unpackRequest).c_str(),
                               SystemErrorText(error).c_str()) +
                    "\n"));
            }
        }
        m_view->AppendToLog(
            Text(m_kind == JobKind::Pack ? IDS_PACK_NOT_COMPLETE : IDS_UNPACK_NOT_COMPLETE));
    }
    if (!succeeded) {
        // A bar left part-filled or full would say that some of the work stands.
        m_view->Progress()->setValue(0);
    }
    const bool offerRebuild =
        m_kind == JobKind::Test && m_testOutcome.repairable && !m_testOutcome.cancelled;
    m_kind.reset();
    // A test whose set its recovery files can mend offers the unpack that rebuilds it, once
    // the test's worker has ended.
    if (offerRebuild) {
        const QString question = QString::fromStdString(m_testOutcome.verdict) +
                                 QStringLiteral("\n\n") + Text(IDS_WINDOW_OFFER_REBUILD);
        QTimer::singleShot(0, m_owner, [this, question] {
            if (!m_kind &&
                Modal::MessageBox(m_owner, question, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK)
                Unpack();
        });
    }
}
