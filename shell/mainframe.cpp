#include "shell/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/jobcontext.h"
#include "platform/paths.h"
#include "engine/format.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/ids.h"
#include "shell/images.h"
#include "shell/lockkeys.h"
#include "shell/modal.h"
#include "shell/settings.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

// A command as EnableWhenIdle sees it.
class ActionUpdate : public CommandUpdate {
public:
    explicit ActionUpdate(QAction* action) : m_action(action) {}
    void Enable(bool enabled) override { m_action->setEnabled(enabled); }

private:
    QAction* m_action;
};

const int kLockKeyPollMs = 250;

} // namespace

// The application's wait cursor while a job shows it: the job's first JobBusy begins it, its
// JobBusyEnded ends it.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    // Shows the hourglass again, should something have replaced it.
    void Restore() { QApplication::changeOverrideCursor(Qt::WaitCursor); }
};

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainFrame"));
    // Caption, system menu, minimize and maximize boxes; the window resizes, the form's log
    // and field growing with it.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    // A project or packed file dropped anywhere on the window fills the File Name field;
    // several are queued (WindowJobs::QueueDropped).
    setAcceptDrops(true);
    setWindowIcon(AppIcon());
    setWindowTitle(Text(IDS_APP_TITLE));
    setFocusPolicy(Qt::StrongFocus);

    m_view = new CZUNPackView(this);
    setCentralWidget(m_view);
    m_jobs = std::make_unique<WindowJobs>(this, m_view);
    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::createAction(int commandId, const QString& text, unsigned promptId,
                                  const char* objectName)
{
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(objectName));
    action->setData(commandId);
    if (promptId != 0) {
        action->setStatusTip(PromptOf(promptId));
        action->setToolTip(TooltipOf(promptId));
    }
    m_actions.insert(commandId, action);
    return action;
}

void CMainFrame::createActions()
{
    QAction* pack = createAction(ID_PACK_PROJECT, Text(IDS_MENU_PACK_PROJECT), ID_PACK_PROJECT,
                                 "actionPackProject");
    pack->setIcon(ToolbarIcon(ToolbarImage::Pack));
    pack->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(pack, &QAction::triggered, this, &CMainFrame::OnPackProject);

    QAction* unpack = createAction(ID_UNPACK_PROJECT, Text(IDS_MENU_UNPACK_PROJECT),
                                   ID_UNPACK_PROJECT, "actionUnpackProject");
    unpack->setIcon(ToolbarIcon(ToolbarImage::Unpack));
    unpack->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    connect(unpack, &QAction::triggered, this, &CMainFrame::OnUnpackProject);

    QAction* test = createAction(ID_TEST_PACKED, Text(IDS_MENU_TEST_PACKED), IDS_TEST_PROMPT,
                                 "actionTestPacked");
    test->setIcon(ToolbarIcon(ToolbarImage::Test));
    test->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(test, &QAction::triggered, this, &CMainFrame::OnTestPacked);

    QAction* exit = createAction(ID_APP_EXIT, Text(IDS_MENU_EXIT), ID_APP_EXIT, "actionExit");
    exit->setIcon(ToolbarIcon(ToolbarImage::Exit));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &CMainFrame::OnAppExit);

    QAction* help = createAction(ID_HELP_TOPICS, Text(IDS_MENU_HELP_TOPICS), ID_HELP_TOPICS,
                                 "actionHelpTopics");
    // F1 asks for help wherever the focus is in the main window; the menu shows the key.
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, &CMainFrame::OnHelpTopics);

    QAction* about = createAction(ID_APP_ABOUT, Text(IDS_MENU_ABOUT), ID_APP_ABOUT, "actionAbout");
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);

    // Cancel beside the progress bar, and Escape: ask the running job to stop.
    QAction* cancel = createAction(ID_CANCEL_JOB, Text(IDS_DLG_CANCEL), 0, "actionCancelJob");
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    cancel->setShortcutContext(Qt::WindowShortcut);
    addAction(cancel);
    connect(cancel, &QAction::triggered, this, &CMainFrame::OnCancelJob);
    connect(m_view->CancelButton(), &QPushButton::clicked, cancel, &QAction::trigger);

    // The accelerators of the frame that are no menu items.
    QAction* fileNew = createAction(ID_FILE_NEW, QString(), 0, "actionFileNew");
    fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(fileNew, &QAction::triggered, this, &CMainFrame::OnFileNew);
    QAction* fileOpen = createAction(ID_FILE_OPEN, QString(), ID_FILE_OPEN, "actionFileOpen");
    fileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(fileOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    QAction* fileSave = createAction(ID_FILE_SAVE, QString(), 0, "actionFileSave");
    fileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(fileSave, &QAction::triggered, this, &CMainFrame::OnFileSave);
    for (QAction* action : {fileNew, fileOpen, fileSave}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
}

void CMainFrame::createMenus()
{
    QMenu* actionMenu = menuBar()->addMenu(Text(IDS_MENU_ACTION));
    actionMenu->setObjectName(QStringLiteral("menuAction"));
    actionMenu->addAction(Action(ID_PACK_PROJECT));
    actionMenu->addAction(Action(ID_UNPACK_PROJECT));
    actionMenu->addAction(Action(ID_TEST_PACKED));
    actionMenu->addSeparator();
    actionMenu->addAction(Action(ID_APP_EXIT));
    connect(actionMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);

    QMenu* helpMenu = menuBar()->addMenu(Text(IDS_MENU_HELP));
    helpMenu->setObjectName(QStringLiteral("menuHelp"));
    helpMenu->addAction(Action(ID_HELP_TOPICS));
    helpMenu->addAction(Action(ID_APP_ABOUT));
}

void CMainFrame::createToolBar()
{
    QToolBar* toolBar = addToolBar(QString());
    toolBar->setObjectName(QStringLiteral("toolBar"));
    // Never docked elsewhere, never floated.
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setIconSize(QSize(16, 16));
    toolBar->setAccessibleName(Text(IDS_ACC_TOOLBAR));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->addAction(Action(ID_PACK_PROJECT));
    toolBar->addAction(Action(ID_UNPACK_PROJECT));
    toolBar->addAction(Action(ID_TEST_PACKED));
    toolBar->addAction(Action(ID_APP_EXIT));
}

void CMainFrame::createStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setAccessibleName(Text(IDS_ACC_STATUS_BAR));
    bar->setSizeGripEnabled(true);
    m_paneMessage = new QLabel(Text(IDS_READY), bar);
    m_paneMessage->setObjectName(QStringLiteral("paneMessage"));
    bar->addWidget(m_paneMessage, 1);

    const QFontMetrics metrics(bar->font());
    for (int id : {int(ID_INDICATOR_CAPS), int(ID_INDICATOR_NUM), int(ID_INDICATOR_SCRL)}) {
        auto* indicator = new QLabel(bar);
        indicator->setObjectName(QStringLiteral("indicator%1").arg(id));
        indicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        indicator->setAlignment(Qt::AlignCenter);
        // As wide as its text, also while the text is not shown.
        indicator->setMinimumWidth(metrics.horizontalAdvance(Text(unsigned(id))) + 8);
        bar->addPermanentWidget(indicator);
        m_indicators.insert(id, indicator);
    }
    updateLockIndicators();
    m_lockKeyTimer = new QTimer(this);
    connect(m_lockKeyTimer, &QTimer::timeout, this, &CMainFrame::updateLockIndicators);
    m_lockKeyTimer->start(kLockKeyPollMs);
}

void CMainFrame::updateLockIndicators()
{
    const std::pair<int, LockKey> keys[] = {{ID_INDICATOR_CAPS, LockKey::Caps},
                                            {ID_INDICATOR_NUM, LockKey::Num},
                                            {ID_INDICATOR_SCRL, LockKey::Scroll}};
    for (const auto& [id, key] : keys) {
        QLabel* indicator = m_indicators.value(id);
        // A box shows only while its key is on: an empty box would say nothing.
        const bool on = IsLockKeyOn(key);
        const QString text = on ? Text(unsigned(id)) : QString();
        if (indicator->text() != text) {
            indicator->setText(text);
        }
        indicator->setVisible(on);
    }
}

QMenu* CMainFrame::createPopupMenu()
{
    // No menu for hiding the toolbar: the bars stay as they are.
    return nullptr;
}

QString CMainFrame::PaneText() const
{
    return m_paneMessage->text();
}

QString CMainFrame::IndicatorText(int indicatorId) const
{
    QLabel* indicator = m_indicators.value(indicatorId);
    return indicator != nullptr ? indicator->text() : QString();
}

bool CMainFrame::IsWaitCursorShown() const
{
    return m_waitCursor != nullptr;
}

void CMainFrame::UpdateCommandStates()
{
    for (int id :
         {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT), int(ID_TEST_PACKED), int(ID_APP_EXIT)}) {
        ActionUpdate update(Action(id));
        EnableWhenIdle(update);
    }
    const bool running = g_nJobState != JOB_IDLE;
    Action(ID_CANCEL_JOB)->setEnabled(running);
    m_view->CancelButton()->setEnabled(running);
}

void CMainFrame::OnCancelJob()
{
    if (g_nJobState != JOB_IDLE) {
        m_cancelRequest();
        m_jobs->CancelPressed();
    }
}

void CMainFrame::SetCancelRequest(std::function<void()> request)
{
    m_cancelRequest = std::move(request);
}

void CMainFrame::JobStateChanged(JobState state)
{
    SetJobState(state);
    // Qt has no idle-time command updates: the commands follow the state right here.
    UpdateCommandStates();
}

void CMainFrame::JobEnded(JobKind kind, bool succeeded, const std::string& closingLine)
{
    m_jobs->JobEnded(kind, succeeded, closingLine);
}

std::optional<std::string> CMainFrame::FindVolume(const FindVolumeRequest& request)
{
    const QString ext = QFile::decodeName(QByteArray::fromStdString(request.strExt));
    const QString initialName =
        QFile::decodeName(QByteArray::fromStdString(request.strName)) + QLatin1Char('.') + ext;
    // Titled with the volume asked for, counted from 1, and the set's first file.
    const std::string first =
        request.pFound != nullptr && !request.pFound->empty()
            ? SplitPath(request.pFound->front()).name + SplitPath(request.pFound->front()).ext
            : request.strName + ".0KX";
    const QString title = QString::fromStdString(FormatText(
        LoadString(IDS_FIND_VOLUME_TITLE).c_str(), static_cast<long>(request.nVolume + 1),
        static_cast<long>(request.nVolumes), first.c_str()));
    // Volumes from 10 on are named .10X, .100: no packed-file pattern shows them all.
    const QString filter = FilterFromCatalogue(IDS_FINDFILE_FILTER) + QStringLiteral(";;") +
                           FilterFromCatalogue(IDS_ALL_FILES_FILTER);
    // The chooser opens in the folder of the packed file being unpacked. The job checks the
    // file chosen (CheckChosenVolume): one that cannot be the missing volume is refused with
    // the reason, and the chooser opens again. A file named otherwise than the volume (another
    // set's, of the same size) is taken only when the user says so.
    for (;;) {
        const QString chosen =
            Modal::OpenFileName(this, m_jobs->Folder(), initialName, filter, ext, title);
        if (chosen.isEmpty()) {
            return std::nullopt;
        }
        if (QFileInfo(chosen).fileName().compare(initialName, Qt::CaseInsensitive) == 0 ||
            Modal::MessageBox(this,
                              QString::fromStdString(
                                  FormatText(LoadString(IDS_VOLUME_FOREIGN_NAME).c_str(),
                                             QFile::encodeName(chosen).constData(),
                                             static_cast<long>(request.nVolume + 1), first.c_str(),
                                             QFile::encodeName(initialName).constData())),
                              MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK) {
            return QFile::encodeName(chosen).toStdString();
        }
    }
}

void CMainFrame::JobBusy()
{
    if (!m_waitCursor) {
        m_waitCursor = std::make_unique<WaitCursor>();
    }
    m_waitCursor->Restore();
}

void CMainFrame::JobBusyEnded()
{
    m_waitCursor.reset();
}

bool CMainFrame::AppendToStatusLog(const std::string& text)
{
    m_view->AppendToLog(QString::fromStdString(text));
    return true;
}

void CMainFrame::SetProgressPosition(int percent)
{
    m_view->Progress()->setValue(percent);
}

void CMainFrame::SetStatusPaneText(const std::string& text)
{
    // The job's text replaces a prompt that happens to be showing.
    statusBar()->clearMessage();
    m_paneMessage->setText(QString::fromStdString(text));
    m_paneMessage->repaint();
}

int CMainFrame::ShowMessageBox(const std::string& text, unsigned type)
{
    QString message = QString::fromStdString(text);
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // In a queue a box says which file's job asks, unless it names the file already.
    const QString file = m_jobs->RunningQueuedFile();
    if (!file.isEmpty() && !message.contains(file)) {
        message = file + QStringLiteral("\n\n") + message;
    }
    return Modal::MessageBox(this, message, type);
}

bool CMainFrame::CanCloseNow()
{
    // A queue between two of its files runs as much as a job does.
    if (g_nJobState == JOB_IDLE && !IsJobRunning()) {
        return true;
    }
    if (m_closeWhenJobEnds) {
        return false; // asked already: the job is stopping
    }
    const QString text =
        Text(IDS_WAIT_FOR_JOB) + QStringLiteral("\n\n") + Text(IDS_CLOSE_STOPS_JOB);
    if (Modal::MessageBox(this, text, MB_OKCANCEL | MB_ICONEXCLAMATION, Text(IDS_DLG_STOP_AND_QUIT),
                          Text(IDS_DLG_KEEP_WORKING)) == IDOK) {
        m_closeWhenJobEnds = true;
        // The files a queue still holds are not started.
        m_jobs->DropRest();
        OnCancelJob();
        closeIfStoppedJobEnded();
    }
    return false;
}

void CMainFrame::closeIfStoppedJobEnded()
{
    if (!m_closeWhenJobEnds) {
        return;
    }
    if (g_nJobState != JOB_IDLE || IsJobRunning() || RunningWorkerThreads() != 0) {
        // The worker may still be on its way out after its last report: look again shortly.
        QTimer::singleShot(20, this, &CMainFrame::closeIfStoppedJobEnded);
        return;
    }
    m_closeWhenJobEnds = false;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (CanCloseNow()) {
        Settings::SetWindowGeometry(normalGeometry());
        // The file in the field when the window closes is the next start's: typed or dropped
        // there as much as packed or unpacked.
        const QString field = m_view->FileNameField()->text().trimmed();
        if (!field.isEmpty()) {
            Settings::SetLastFile(field);
        }
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainFrame::RestoreGeometry()
{
    const QRect saved = Settings::WindowGeometry();
    if (saved.isValid() && !saved.isEmpty()) {
        setGeometry(FitOnScreen(*this, saved));
    }
}

QString CMainFrame::DroppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return QString();
    }
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile()) {
        return QString();
    }
    const QString path = url.toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("kmx") && suffix != QLatin1String("0kx") &&
        suffix != QLatin1String("0rv")) {
        return QString();
    }
    return path;
}

QStringList CMainFrame::DroppedFiles(const QMimeData* data)
{
    QStringList files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
        if (suffix == QLatin1String("kmx") || suffix == QLatin1String("0kx") ||
            suffix == QLatin1String("0rv")) {
            files << url.toLocalFile();
        }
    }
    files.removeDuplicates();
    return files;
}

bool CMainFrame::TakesDrop(const QMimeData* mime) const
{
    return !DroppedFile(mime).isEmpty() ||
           (!DroppedFiles(mime).isEmpty() && g_nJobState == JOB_IDLE && !IsJobRunning());
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (TakesDrop(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event)
{
    if (TakesDrop(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (!TakesDrop(event->mimeData())) {
        return;
    }
    QStringList files = DroppedFiles(event->mimeData());
    const QString path = DroppedFile(event->mimeData());
    if (!path.isEmpty()) {
        files = QStringList{path};
    }
    event->acceptProposedAction();
    activateWindow();
    if (files.size() == 1) {
        // The file is named, nothing more: the user starts Pack or Unpack.
        m_view->FileNameField()->setText(files.constFirst());
        return;
    }
    // Several files are queued, after the drop has ended: the dialogs wait for the user.
    QTimer::singleShot(0, this, [this, files] {
        if (g_nJobState == JOB_IDLE && !IsJobRunning()) {
            m_jobs->QueueDropped(files);
        }
    });
}

bool CMainFrame::OpenFromAnotherStart(char command, const QString& file)
{
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
    // During a job the field names the job's file: another start does not change it under the
    // job, and the log says what was asked and not done.
    if (IsJobRunning() || g_nJobState != JOB_IDLE) {
        if (!file.isEmpty()) {
            m_view->AppendToLog(QString::fromStdString(FormatText(
                LoadString(IDS_APP_BUSY_NOT_OPENED).c_str(), QFile::encodeName(file).constData())));
        }
        return file.isEmpty() && command == 'G';
    }
    if (!file.isNull()) {
        m_view->FileNameField()->setText(file);
    }
    // Pack, Unpack or Test asked for from a file manager: the command's dialog, as if chosen
    // from the menu, when no other box is open.
    int id = 0;
    switch (command) {
    case 'P': id = ID_PACK_PROJECT; break;
    case 'U': id = ID_UNPACK_PROJECT; break;
    case 'T': id = ID_TEST_PACKED; break;
    default: break;
    }
    if (id != 0 && QApplication::activeModalWidget() == nullptr) {
        QAction* action = Action(id);
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    return true;
}

void CMainFrame::OnAppExit()
{
    // Posted, so that Exit passes the close guard like every other way of closing.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::OnFileNew()
{
    // The window holds no document: New only places and sizes the window again.
    m_view->OnInitialUpdate();
}

void CMainFrame::OnFileOpen()
{
    // Opening reads nothing: the chosen file becomes the form's file name, ready for Pack or
    // Unpack. No file is read or written.
    QString filter = FilterFromCatalogue(IDS_PACK_FILTER) + QStringLiteral(";;") +
                     FilterFromCatalogue(IDS_UNPACK_CHOOSER_FILTER);
    const QString chosen = Modal::OpenFileName(this, Settings::LastFolder(), QString(), filter);
    if (!chosen.isEmpty()) {
        m_view->FileNameField()->setText(chosen);
        Settings::SetLastFolder(QFileInfo(chosen).absolutePath());
    }
}

void CMainFrame::OnFileSave()
{
    // The window holds nothing to save, and no user file is touched.
}

void CMainFrame::OnPackProject()
{
    m_jobs->Pack();
}

void CMainFrame::OnUnpackProject()
{
    m_jobs->Unpack();
}

void CMainFrame::OnTestPacked()
{
    m_jobs->Test();
}

void CMainFrame::OnHelpTopics()
{
    ShowHelpFinder(this);
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg about(this);
    Modal::RunDialog(about);
}
