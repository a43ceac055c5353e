#include "shell/app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <cstdio>

#include "engine/format.h"
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
    : m_argc(argc), m_argv(argv), m_options(ParseArguments(argc, argv))
{
}

CZUNPackApp::~CZUNPackApp()
{
    m_pChannel.reset();
    QtMainWindowHost::Instance().Attach(nullptr);
    m_pMainWnd.reset();
    m_pQtApp.reset();
}

namespace {

// The command letter of an option argument, 0 for any other argument.
char CommandOf(const std::string& argument)
{
    static const struct {
        const char* longName;
        char command;
    } kLong[] = {{"--open", 'G'}, {"--pack", 'P'}, {"--unpack", 'U'}, {"--test", 'T'}};
    for (const auto& entry : kLong) {
        if (argument == entry.longName) {
            return entry.command;
        }
    }
    if (argument.size() == 2 && (argument[0] == '/' || argument[0] == '-')) {
        const char letter =
            static_cast<char>(std::toupper(static_cast<unsigned char>(argument[1])));
        if (letter == 'G' || letter == 'P' || letter == 'U' || letter == 'T') {
            return letter;
        }
    }
    return 0;
}

} // namespace

CZUNPackApp::Options CZUNPackApp::ParseArguments(int argc, char** argv)
{
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded) {
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (argument == "--help" || argument == "-h" || argument == "-?" || argument == "/?") {
                options.help = true;
                continue;
            }
            if (argument == "--version") {
                options.version = true;
                continue;
            }
            if (const char command = CommandOf(argument)) {
                options.command = command;
                // The file is the next argument, unless there is none or it is another option.
                if (i + 1 < argc && CommandOf(argv[i + 1]) == 0 &&
                    std::string(argv[i + 1]) != "--") {
                    options.file = std::string(argv[++i]);
                }
                continue;
            }
            if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
                options.unknownOption = argument;
                continue;
            }
        }
        options.file = argument;
    }
    return options;
}

std::string CZUNPackApp::Usage()
{
    return LoadString(IDS_APP_USAGE);
}

void CZUNPackApp::OpenFromCommandLine()
{
    if (m_pMainWnd && (m_options.file || m_options.command != 'G')) {
        // Paths are bytes: taken as the file system encodes names. No file: the field keeps
        // the last file, and Pack, Unpack or Test open on it.
        m_pMainWnd->OpenFromAnotherStart(m_options.command,
                                         m_options.file ? QFile::decodeName(m_options.file->c_str())
                                                        : QString());
    }
}

namespace {

// A second start hands its command and file to the running program and ends without a window:
// with status 0 when the running window took them, else 1 with a line that says why.
int HandOverToRunningInstance(int& argc, char** argv, const CZUNPackApp::Options& options)
{
    QCoreApplication app(argc, argv);
    InstanceChannel::Request request;
    request.command = options.command;
    if (options.file && !options.file->empty()) {
        // Named from where this start runs; the running program may be elsewhere. No file (a
        // desktop entry's "/G %f" started without one) names nothing: the running window
        // keeps what its field holds.
        request.file = QFileInfo(QFile::decodeName(options.file->c_str())).absoluteFilePath();
    }
    switch (InstanceChannel::SendToRunning(InstanceChannel::SocketPath(kInstanceLockName), request,
                                           kHandOverWaitMs)) {
    case InstanceChannel::Delivery::Taken: return 0;
    case InstanceChannel::Delivery::Refused:
        SetLanguage(LanguageFromEnvironment());
        std::fprintf(stderr, "packtool: %s\n",
                     FormatText(LoadString(IDS_APP_BUSY_NOT_TAKEN).c_str(),
                                QFile::encodeName(request.file).constData())
                         .c_str());
        return 1;
    case InstanceChannel::Delivery::Unreachable: break;
    }
    std::fprintf(stderr, "packtool: the running Pack Tool could not be reached\n");
    return 1;
}

} // namespace

bool CZUNPackApp::Start()
{
    // The lock comes first, before the display is touched: a second instance ends at once,
    // without a window and without a word.
    m_instanceLock = std::make_unique<InstanceLock>(kInstanceLockName);
    const InstanceLock::Result lock = m_instanceLock->TryAcquire();
    if (lock == InstanceLock::HeldElsewhere) {
        m_handOverStatus = HandOverToRunningInstance(m_argc, m_argv, m_options);
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
            return frame->OpenFromAnotherStart(request.command, request.file);
        });

    OpenFromCommandLine();
    m_pMainWnd->setWindowTitle(Text(IDS_APP_TITLE));
    return true;
}

int CZUNPackApp::Finish()
{
    if (m_instanceLock) {
        m_instanceLock->Release();
    }
    return m_handOverStatus;
}

int CZUNPackApp::Run()
{
    // --help, --version and an unknown option are answered here, without a window and without
    // the single-instance lock.
    if (m_options.help || m_options.version || !m_options.unknownOption.empty()) {
        SetLanguage(LanguageFromEnvironment());
        if (!m_options.unknownOption.empty()) {
            std::fprintf(stderr, "packtool: %s: %s\n\n%s", m_options.unknownOption.c_str(),
                         LoadString(IDS_APP_UNKNOWN_OPTION).c_str(), Usage().c_str());
            return 2;
        }
        if (m_options.help) {
            std::fputs(Usage().c_str(), stdout);
        } else {
            std::printf("packtool %s\n", PACKTOOL_VERSION);
        }
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    if (Start()) {
        QApplication::exec();
        QtMainWindowHost::Instance().Attach(nullptr);
    }
    return Finish();
}
