#include "shell/app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <cstdio>

#include "platform/instancelock.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/images.h"
#include "shell/instancechannel.h"
#include "shell/mainframe.h"
#include "shell/qthost.h"
#include "shell/settings.h"
#include "shell/texts.h"
#include "shell/view.h"

const char kInstanceLockName[] = "KESTAV_ZUNPACK_TOOL";

namespace {
// How long a second start tries to reach the first, which may itself be starting.
const int kHandOverWaitMs = 5000;
} // namespace

CZUNPackApp::CZUNPackApp(int& argc, char** argv)
    : m_argc(argc), m_argv(argv), m_strCommandTail(CommandTail(argc, argv))
{
}

CZUNPackApp::~CZUNPackApp()
{
    m_pChannel.reset();
    QtMainWindowHost::Instance().Attach(nullptr);
    m_pMainWnd.reset();
    m_pQtApp.reset();
}

std::string CZUNPackApp::CommandTail(int argc, char** argv)
{
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            tail += ' ';
        }
        tail += argv[i];
    }
    return tail;
}

std::optional<std::string> CZUNPackApp::ScanGOption(const std::string& tail)
{
    return ScanOptions(tail).file;
}

CZUNPackApp::Options CZUNPackApp::ScanOptions(const std::string& tail)
{
    Options options;
    std::optional<std::string>& value = options.file;
    size_t pos = 0;
    while (pos + 1 < tail.size()) {
        const char letter = tail[pos + 1];
        if (tail[pos] != '/' || (letter != 'G' && letter != 'P' && letter != 'U')) {
            ++pos;
            continue;
        }
        options.command = letter;
        size_t start = pos + 2;
        // Blanks between "/G" and its value only separate the two. (A Linux path begins with
        // "/", and "/G /home/..." must not read as an empty value followed by another option.)
        while (start < tail.size() && tail[start] == ' ') {
            ++start;
        }
        // The value ends at the first space followed by "/" or by the end of the tail.
        size_t end = start;
        while (end < tail.size()) {
            if (tail[end] == ' ' && (end + 1 == tail.size() || tail[end + 1] == '/')) {
                break;
            }
            ++end;
        }
        // A second "/G" replaces the first, as the field would.
        value = tail.substr(start, end - start);
        pos = end;
    }
    return options;
}

void CZUNPackApp::ScanCommandLine()
{
    const Options options = ScanOptions(m_strCommandTail);
    if (options.file && m_pMainWnd) {
        // Paths are bytes: taken as the file system encodes names.
        m_pMainWnd->OpenFromAnotherStart(options.command, QFile::decodeName(options.file->c_str()));
    }
}

namespace {

// A second start hands its command and file to the running program and ends without a window.
void HandOverToRunningInstance(int& argc, char** argv, const std::string& tail)
{
    QCoreApplication app(argc, argv);
    const CZUNPackApp::Options options = CZUNPackApp::ScanOptions(tail);
    InstanceChannel::Request request;
    request.command = options.command;
    if (options.file) {
        // Named from where this start runs; the running program may be elsewhere.
        // An empty "/G" (a desktop entry's "/G %f" started without a file) names nothing: the
        // running window keeps what its field holds.
        const QString file = QFile::decodeName(options.file->c_str()).trimmed();
        if (!file.isEmpty()) {
            request.file = QFileInfo(file).absoluteFilePath();
        }
    }
    if (!InstanceChannel::SendToRunning(InstanceChannel::SocketPath(kInstanceLockName), request,
                                        kHandOverWaitMs)) {
        std::fprintf(stderr, "packtool: the running Pack Tool could not be reached\n");
    }
}

} // namespace

bool CZUNPackApp::Start()
{
    // The lock comes first, before the display is touched: a second instance ends at once,
    // without a window and without a word.
    m_instanceLock = std::make_unique<InstanceLock>(kInstanceLockName);
    const InstanceLock::Result lock = m_instanceLock->TryAcquire();
    if (lock == InstanceLock::HeldElsewhere) {
        HandOverToRunningInstance(m_argc, m_argv, m_strCommandTail);
        return false;
    }
    if (lock == InstanceLock::Unavailable) {
        // No place for the lock: run anyway, as one would without the lock.
        std::fprintf(stderr, "packtool: %s\n", m_instanceLock->Error().c_str());
    }

    SetLanguage(LanguageFromEnvironment());
    m_pQtApp = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setApplicationName(QStringLiteral("packtool"));
    QApplication::setApplicationDisplayName(Text(IDS_FRAMEWORK_TITLE));
    QApplication::setWindowIcon(AppIcon());
    QApplication::setFont(DialogFont());
    InstallQtTranslations(*m_pQtApp);

    m_pMainWnd = std::make_unique<CMainFrame>();
    QtMainWindowHost::Instance().Attach(m_pMainWnd.get());
    m_pMainWnd->View()->OnInitialUpdate();
    m_pMainWnd->RestoreGeometry();
    m_pMainWnd->View()->FileNameField()->setText(Settings::LastFile());
    m_pMainWnd->show();
    CMainFrame* frame = m_pMainWnd.get();
    m_pChannel = std::make_unique<InstanceChannel::Server>(
        InstanceChannel::SocketPath(kInstanceLockName),
        [frame](const InstanceChannel::Request& request) {
            frame->OpenFromAnotherStart(request.command, request.file);
        });

    if (!m_strCommandTail.empty()) {
        ScanCommandLine();
    }
    m_pMainWnd->setWindowTitle(Text(IDS_APP_TITLE));
    return true;
}

int CZUNPackApp::Finish()
{
    if (m_instanceLock) {
        m_instanceLock->Release();
    }
    return 0;
}

int CZUNPackApp::Run()
{
    if (Start()) {
        QApplication::exec();
        QtMainWindowHost::Instance().Attach(nullptr);
    }
    return Finish();
}
