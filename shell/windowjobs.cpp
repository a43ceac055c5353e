#include "shell/windowjobs.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "engine/batchsummary.h"
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

// The name a command proposes from the form's field (trimmed), or empty for an empty field;
// for a field of several names, the name proposed for each.
QString Proposal(const QString& field, std::string (*propose)(const std::string&))
{
    QStringList proposed;
    for (const QString& name : FileNamesIn(field)) {
        const QString trimmed = name.trimmed();
        proposed << QFile::decodeName(propose(QFile::encodeName(trimmed).toStdString()).c_str());
    }
    return proposed.isEmpty() ? QString() : FileNamesField(proposed);
}

// The summary line of a kind of job: "Packed: %ld of %ld files." and the like.
unsigned SummaryId(JobKind kind)
{
    switch (kind) {
    case JobKind::Pack: return IDS_CLI_BATCH_PACKED;
    case JobKind::Unpack: return IDS_CLI_BATCH_RESTORED;
    default: return IDS_CLI_BATCH_SOUND;
    }
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
std::optional<QStringList> WindowJobs::Confirm(Dialog& dialog, const QString& proposal)
{
    dialog.SetFileName(proposal);
    if (Modal::RunDialog(dialog) != QDialog::Accepted) {
        return std::nullopt;
    }
    QStringList files;
    for (const QString& name : dialog.GetFileNames()) {
        files << FullName(name);
    }
    // Two jobs on one file would only wait for each other.
    files.removeDuplicates();
    return files;
}

std::optional<QStringList> WindowJobs::AskPack(const QString& proposal)
{
    CPackProjectDlg dialog(m_owner);
    const std::optional<QStringList> projects = Confirm(dialog, proposal);
    if (!projects) {
        return std::nullopt;
    }
    m_packOptions = PackRequest{};
    m_packOptions.split = dialog.IsSeparateFile() != 0;
    m_packOptions.volumeSize = dialog.GetVolumeSize();
    // Recovery files beside the set, as the console's --recovery N, by the same job.
    if (m_packOptions.split)
        m_packOptions.recovery.volumes = dialog.GetRecoveryDisks();
    // With Write checksums the job writes NAME.sha256 beside the set once it is complete, as
    // the console's --manifest does.
    m_packOptions.writeManifest = dialog.IsWriteChecksums() != 0;
    // As the console does: a split is refused before compressing when the folder lacks room.
    m_packOptions.checkRoomFirst = true;
    return projects;
}

std::optional<QStringList> WindowJobs::AskUnpack(const QString& proposal)
{
    CUnpackProjectDlg dialog(m_owner);
    const std::optional<QStringList> packed = Confirm(dialog, proposal);
    if (!packed) {
        return std::nullopt;
    }
    m_unpackOptions = UnpackRequest{};
    m_unpackOptions.intoFolder = QFile::encodeName(dialog.GetIntoFolder()).toStdString();
    // A manifest of ours beside the packed file: the restored bytes must have its project
    // checksum before they replace the project file. Any other file of that name is left
    // alone, with a warning.
    m_unpackOptions.checkManifest = true;
    return packed;
}

void WindowJobs::Pack()
{
    if (const std::optional<QStringList> projects =
            AskPack(PackProposal(m_view->FileNameField()->text()))) {
        RunQueue(JobKind::Pack, *projects);
    }
}

void WindowJobs::Unpack()
{
    if (const std::optional<QStringList> packed =
            AskUnpack(UnpackProposal(m_view->FileNameField()->text()))) {
        RunQueue(JobKind::Unpack, *packed);
    }
}

void WindowJobs::Test()
{
    // The packed file is named as for Unpack; a test restores nothing.
    CUnpackProjectDlg dialog(m_owner, false);
    dialog.setWindowTitle(Text(IDS_TEST_CAPTION));
    if (const std::optional<QStringList> packed =
            Confirm(dialog, UnpackProposal(m_view->FileNameField()->text()))) {
        RunQueue(JobKind::Test, *packed);
    }
}

void WindowJobs::QueueDropped(const QStringList& files)
{
    // What a user dropping a mix wants done to each: a project file packed, a packed file
    // restored. Each group's dialog names its files and sets its options.
    QStringList projects;
    QStringList packed;
    for (const QString& file : files) {
        (QFileInfo(file).suffix().compare(QLatin1String("kmx"), Qt::CaseInsensitive) == 0 ? projects
                                                                                          : packed)
            << file;
    }
    std::vector<QueuedFile> queue;
    if (!projects.isEmpty()) {
        if (const std::optional<QStringList> chosen = AskPack(FileNamesField(projects))) {
            for (const QString& file : *chosen)
                queue.push_back({file, JobKind::Pack, FileState::Waiting, {}, {}});
        }
    }
    if (!packed.isEmpty()) {
        if (const std::optional<QStringList> chosen = AskUnpack(FileNamesField(packed))) {
            for (const QString& file : *chosen)
                queue.push_back({file, JobKind::Unpack, FileState::Waiting, {}, {}});
        }
    }
    if (!queue.empty()) {
        RunQueue(std::move(queue));
    }
}

void WindowJobs::RunQueue(JobKind kind, const QStringList& files)
{
    std::vector<QueuedFile> queue;
    for (const QString& file : files)
        queue.push_back({file, kind, FileState::Waiting, {}, {}});
    RunQueue(std::move(queue));
}

void WindowJobs::RunQueue(std::vector<QueuedFile> files)
{
    m_queue = std::move(files);
    m_current = 0;
    // A file that would write what an earlier file of the queue writes is not started: the
    // queue does not overwrite its own results (x.kmx and x.KMX pack into one x.0KX).
    std::vector<std::string> outputs;
    for (const QueuedFile& file : m_queue) {
        const std::string path = QFile::encodeName(file.path).toStdString();
        outputs.push_back(file.kind == JobKind::Pack ? PackedNameFor(path)
                          : file.kind == JobKind::Unpack
                              ? ProjectNameFor(path, m_unpackOptions.intoFolder)
                              : std::string());
    }
    const std::vector<int> earlier = EarlierFileWritingTheSame(outputs);
    for (std::size_t i = 0; i < m_queue.size(); ++i) {
        if (earlier[i] >= 0)
            m_queue[i].refusal = FormatText(
                LoadString(IDS_BATCH_SAME_OUTPUT).c_str(), outputs[i].c_str(),
                QFile::encodeName(m_queue[static_cast<std::size_t>(earlier[i])].path).constData());
    }
    m_dropRest = false;
    m_queueGoesOn = IsQueue();
    QTreeWidget* list = m_view->QueueList();
    list->clear();
    if (IsQueue()) {
        for (const QueuedFile& file : m_queue) {
            auto* item = new QTreeWidgetItem(list);
            item->setText(0, QFileInfo(file.path).fileName());
            item->setToolTip(0, file.path);
        }
        for (std::size_t i = 0; i < m_queue.size(); ++i)
            ShowState(i);
    }
    m_view->ShowQueue(IsQueue());
    StartNext();
}

void WindowJobs::StartNext()
{
    m_cancelPressed = false;
    QueuedFile& file = m_queue[m_current];
    file.state = FileState::Running;
    ShowState(m_current);
    Begin(file.kind, file.path);
    if (!file.refusal.empty()) {
        m_view->AppendToLog(QString::fromStdString(file.refusal) + QLatin1Char('\n'));
        End(false);
        return;
    }
    if (!StartJob(file.kind, QFile::encodeName(file.path).toStdString())) {
        // Refused before its worker ran (a question answered Cancel): the job has ended.
        End(false);
    }
}

bool WindowJobs::StartJob(JobKind kind, const std::string& path)
{
    switch (kind) {
    case JobKind::Pack:
        m_packRequest = m_packOptions;
        m_packRequest.projectPath = path;
        return StartPackJob(m_packRequest, m_packOutcome);
    case JobKind::Unpack:
        m_unpackRequest = m_unpackOptions;
        m_unpackRequest.packedPath = path;
        return StartUnpackJob(m_unpackRequest, m_unpackOutcome);
    default: {
        CheckRequest request;
        request.packedPath = path;
        request.logReport = true; // the report goes to the Status log
        m_testOutcome = TestOutcome{};
        return StartTestJob(request, m_testOutcome);
    }
    }
}

QString WindowJobs::RunningQueuedFile() const
{
    return IsQueue() && m_kind && m_current < m_queue.size() ? m_queue[m_current].path : QString();
}

void WindowJobs::CancelPressed()
{
    if (IsQueue() && m_kind) {
        m_cancelPressed = true;
    }
}

void WindowJobs::GoOn()
{
    const long waiting = static_cast<long>(m_queue.size() - m_current);
    if (waiting > 0 && m_cancelPressed && !m_dropRest) {
        // The user stopped one file: the others may be wanted still, or not at all.
        const std::string question =
            FormatText(LoadString(IDS_QUEUE_DROP_REST).c_str(),
                       m_queue[m_current - 1].path.toStdString().c_str(), waiting);
        m_dropRest = Modal::MessageBox(m_owner,
                                       QString::fromStdString(question).replace(
                                           QStringLiteral("\r\n"), QStringLiteral("\n")),
                                       MB_OKCANCEL | MB_ICONEXCLAMATION, Text(IDS_DLG_YES),
                                       Text(IDS_DLG_NO)) == IDOK;
    }
    if (m_current < m_queue.size() && !m_dropRest) {
        StartNext();
        return;
    }
    EndQueue();
}

void WindowJobs::EndQueue()
{
    for (std::size_t i = m_current; i < m_queue.size(); ++i) {
        m_queue[i].state = FileState::NotDone;
        ShowState(i);
    }
    // One summary for each kind of job the queue held, in the order they came.
    std::vector<JobKind> kinds;
    for (const QueuedFile& file : m_queue) {
        if (std::find(kinds.begin(), kinds.end(), file.kind) == kinds.end())
            kinds.push_back(file.kind);
    }
    QString summary = QStringLiteral("\n");
    for (JobKind kind : kinds) {
        std::vector<BatchFileEnd> ends;
        for (const QueuedFile& file : m_queue) {
            if (file.kind != kind)
                continue;
            const BatchFileState state = file.state == FileState::Done ? BatchFileState::Done
                                         : file.state == FileState::Failed
                                             ? BatchFileState::Failed
                                             : BatchFileState::NotDone;
            ends.push_back({file.path.toStdString(), state, file.reason});
        }
        for (const std::string& line : BatchSummaryLines(SummaryId(kind), ends))
            summary += QString::fromStdString(line) + QLatin1Char('\n');
    }
    m_view->AppendToLog(summary);
    m_queueGoesOn = false;
}

void WindowJobs::ShowState(std::size_t index)
{
    QTreeWidgetItem* item = m_view->QueueList()->topLevelItem(static_cast<int>(index));
    if (item == nullptr) {
        return;
    }
    unsigned id = IDS_QUEUE_WAITING;
    switch (m_queue[index].state) {
    case FileState::Waiting: id = IDS_QUEUE_WAITING; break;
    case FileState::Running: id = IDS_QUEUE_RUNNING; break;
    case FileState::Done: id = IDS_QUEUE_DONE; break;
    case FileState::Failed: id = IDS_QUEUE_FAILED; break;
    case FileState::NotDone: id = IDS_QUEUE_NOT_DONE; break;
    }
    item->setText(1, Text(id));
    if (m_queue[index].state == FileState::Running) {
        m_view->QueueList()->scrollToItem(item);
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
    if (!IsQueue() || m_current == 0) {
        m_view->ClearLog();
    }
    if (IsQueue()) {
        // Each file's lines under its own heading, as the console prints a batch.
        m_view->AppendToLog(QLatin1String(m_current > 0 ? "\n" : "") +
                            QString::fromStdString(BatchHeading(path.toStdString())) +
                            QLatin1Char('\n'));
    }
    m_logStart = (m_view->StatusLog()->toPlainText().size());
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
    // A queue's test does not stop the queue for the offer: its verdict says it is repairable.
    const bool offerRebuild = m_kind == JobKind::Test && m_testOutcome.repairable &&
                              !m_testOutcome.cancelled && !IsQueue();
    if (IsQueue()) {
        QueuedFile& file = m_queue[m_current];
        // As in the console's batches: a cancelled file is not done rather than failed.
        file.state = succeeded           ? FileState::Done
                     : CancelRequested() ? FileState::NotDone
                                         : FileState::Failed;
        if (file.state == FileState::Failed) {
            const QString lines = m_view->StatusLog()->toPlainText().mid(m_logStart);
            const std::string known = !file.refusal.empty()     ? file.refusal
                                      : m_kind == JobKind::Test ? m_testOutcome.verdict
                                                                : std::string();
            file.reason = FailureReason(file.path.toStdString(), known, lines.toStdString());
        }
        ShowState(m_current);
        ++m_current;
        // The next file once this job's end has been handled in full.
        QTimer::singleShot(0, m_owner, [this] { GoOn(); });
    }
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
