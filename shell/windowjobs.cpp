#include "shell/windowjobs.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>

#include "engine/format.h"
#include "engine/manifest.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/dialogs.h"
#include "shell/modal.h"
#include "shell/settings.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

// The form's field as the commands see it: without blanks, tabs or line ends around it.
PathParts FieldParts(const QString& text, bool* empty)
{
    const QString trimmed = text.trimmed();
    *empty = trimmed.isEmpty();
    return SplitPath(QFile::encodeName(trimmed).toStdString());
}

bool SameExtension(const std::string& ext, const char* other)
{
    return QString::fromStdString(ext).compare(QLatin1String(other), Qt::CaseInsensitive) == 0;
}

// The name a dialog confirmed, as the job gets it: trimmed and absolute, so that no job and no
// later proposal depends on the folder the program happens to be in. A relative name is taken
// in the current folder, where the dialog's check has just opened it.
QString FullName(const QString& confirmed)
{
    const QString trimmed = confirmed.trimmed();
    return trimmed.isEmpty() ? trimmed : QFileInfo(trimmed).absoluteFilePath();
}

} // namespace

WindowJobs::WindowJobs(QWidget* owner, CZUNPackView* view) : m_owner(owner), m_view(view) {}

WindowJobs::~WindowJobs() = default;

QString WindowJobs::PackProposal(const QString& field)
{
    // The field's file with the project extension.
    bool empty = false;
    const PathParts parts = FieldParts(field, &empty);
    return empty ? QString()
                 : QFile::decodeName(MakePath(parts.drive, parts.dir, parts.name, ".kmx").c_str());
}

QString WindowJobs::UnpackProposal(const QString& field)
{
    // The field's file in its own folder; a project file's name (the one just packed, or just
    // restored) becomes the name of its packed file.
    bool empty = false;
    PathParts parts = FieldParts(field, &empty);
    if (empty) {
        return QString();
    }
    if (SameExtension(parts.ext, ".kmx")) {
        parts.ext = ".0KX";
    } else if (SameExtension(parts.ext, ".rvn")) {
        parts.ext = ".0RV";
    }
    return QFile::decodeName(MakePath(parts).c_str());
}

void WindowJobs::Pack()
{
    CPackProjectDlg dialog(m_owner);
    dialog.SetFileName(PackProposal(m_view->FileNameField()->text()));
    if (Modal::RunDialog(dialog) != QDialog::Accepted) {
        return;
    }
    const QString project = FullName(dialog.GetFileName());
    Begin(JobKind::Pack, project);
    m_packRequest = PackRequest{};
    m_packRequest.strProjectPath = QFile::encodeName(project).toStdString();
    m_packRequest.bSplitFile = dialog.IsSeparateFile() != 0;
    m_packRequest.nVolumeSize = dialog.GetVolumeSize();
    // With Write checksums the job takes the project file's checksum from the bytes the codec
    // reads; the manifest is written once the set is complete.
    m_packRequest.bProjectDigest = dialog.IsWriteChecksums() != 0;
    // As the console does: a split is refused before compressing when the folder lacks room.
    m_packRequest.checkRoomFirst = true;
    const int started = StartPackJob(m_packRequest, m_packOutcome);
    if (started == 0) {
        End(false);
    }
}

void WindowJobs::Unpack()
{
    CUnpackProjectDlg dialog(m_owner);
    dialog.SetFileName(UnpackProposal(m_view->FileNameField()->text()));
    if (Modal::RunDialog(dialog) != QDialog::Accepted) {
        return;
    }
    const QString packed = FullName(dialog.GetFileName());
    const std::string packedPath = QFile::encodeName(packed).toStdString();
    Begin(JobKind::Unpack, packed);
    // A manifest of ours beside the packed file: the restored bytes must have its project
    // checksum before they replace the project file. Any other file of that name is left
    // alone, with a warning.
    const ManifestCheck manifest = ExamineManifest(packedPath);
    if (!manifest.strWarning.empty()) {
        m_view->AppendToLog(QString::fromStdString(FormatText(LoadString(IDS_CLI_WARNING).c_str(),
                                                              manifest.strWarning.c_str())) +
                            QStringLiteral("\n"));
    }
    UnpackRequest& request = m_unpackRequest;
    request = UnpackRequest{};
    request.strPackedPath = packedPath;
    request.strIntoFolder = QFile::encodeName(dialog.GetIntoFolder()).toStdString();
    if (const ManifestEntry* project = manifest.Project()) {
        request.strExpectedDigest = project->strDigest;
        request.strManifest = manifest.strPath;
    }
    // Refused before its worker ran (a question answered Cancel): the job has ended already.
    if (StartUnpackJob(request, m_unpackOutcome) == 0) {
        End(false);
    }
}

void WindowJobs::Test()
{
    // The packed file is named as for Unpack; a test restores nothing.
    CUnpackProjectDlg dialog(m_owner, false);
    dialog.setWindowTitle(Text(IDS_TEST_CAPTION));
    dialog.SetFileName(UnpackProposal(m_view->FileNameField()->text()));
    if (Modal::RunDialog(dialog) != QDialog::Accepted) {
        return;
    }
    const QString packed = FullName(dialog.GetFileName());
    Begin(JobKind::Test, packed);
    CheckRequest request;
    request.strPackedPath = QFile::encodeName(packed).toStdString();
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
    if (m_kind == JobKind::Pack && m_packRequest.bProjectDigest && succeeded) {
        // The packed file is written and sound whether or not its manifest could be: the
        // closing line says so, after the line about the manifest.
        WriteChecksums();
    }
    // The closing line says the job is complete, so it stands only under a job that is.
    if (m_kind == JobKind::Test) {
        m_view->AppendToLog(Text(succeeded ? IDS_TEST_SOUND_END : IDS_TEST_NOT_SOUND_END));
    } else if (succeeded) {
        if (m_kind == JobKind::Unpack) {
            // Where the project file went: beside the packed file, or into the folder chosen.
            m_view->AppendToLog(QString::fromStdString(FormatText(
                LoadString(IDS_CLI_RESTORED).c_str(), m_unpackOutcome.strProjectPath.c_str())));
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
                               RestoreFolder(m_unpackRequest).c_str(), SystemErrorText(error).c_str()) +
                    "\n"));
            }
        }
        m_view->AppendToLog(Text(m_kind == JobKind::Pack ? IDS_PACK_NOT_COMPLETE
                                                         : IDS_UNPACK_NOT_COMPLETE));
    }
    if (!succeeded) {
        // A bar left part-filled or full would say that some of the work stands.
        m_view->Progress()->setValue(0);
    }
    m_kind.reset();
}

void WindowJobs::WriteChecksums()
{
    // The same rule as the console's --manifest, through the same function.
    const std::string& packedPath = m_packOutcome.strPackedPath;
    const bool written = WriteManifestAfterPack(packedPath, m_packRequest.strProjectPath,
                                                m_packOutcome.strProjectDigest);
    const unsigned id = written ? IDS_CLI_MANIFEST_WRITTEN : IDS_CLI_MANIFEST_FAILED;
    const std::string line = FormatText(LoadString(id).c_str(), ManifestPath(packedPath).c_str());
    m_view->AppendToLog(QStringLiteral("\n") + QString::fromStdString(line) + QStringLiteral("\n"));
}
