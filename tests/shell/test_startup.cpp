// Start-up: the "/G" option, the caption, and one instance per user, with the real program
// started as separate processes for the instance rules.
#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QtTest>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/instancelock.h"
#include "platform/strings.h"
#include "shell/app.h"
#include "shell/mainframe.h"
#include "shell/modal.h"
#include "shell/settings.h"
#include "shell/view.h"

Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

using namespace std::chrono_literals;

// A program started with its own environment.
class Child {
public:
    explicit Child(const std::vector<std::string>& env, std::vector<std::string> args = {})
    {
        // The environment is built before fork: the child only calls execve.
        std::vector<std::string> entries = env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('=') + 1);
            bool overridden = false;
            for (const std::string& own : env) {
                overridden = overridden || own.compare(0, name.size(), name) == 0;
            }
            if (!overridden) {
                entries.push_back(text);
            }
        }
        std::vector<char*> envp;
        for (std::string& entry : entries) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        char program[] = PACKTOOL_EXE;
        std::vector<char*> argv = {program};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            execve(program, argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t Pid() const { return m_pid; }

    // The exit status once the program has ended within the time, else nothing.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (!m_status) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = status;
                break;
            }
            if (std::chrono::steady_clock::now() > until) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
        return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -WTERMSIG(*m_status);
    }

    void Kill(int signal)
    {
        kill(m_pid, signal);
        WaitForExit(10s);
    }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// True when the process holds an flock on the file, as the kernel lists it in /proc/locks.
bool HoldsLock(pid_t pid, const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    const std::string pidField = " " + std::to_string(pid) + " ";
    const std::string inodeField = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("FLOCK") != std::string::npos && line.find(pidField) != std::string::npos &&
            line.find(inodeField) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool WaitUntilHolding(pid_t pid, const std::string& path)
{
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        if (HoldsLock(pid, path)) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        // Settings of this test alone: other shell tests run beside it, and a user's own
        // settings must stay out of it.
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QVERIFY(chmod(m_runtime.path().toLocal8Bit().constData(), 0700) == 0);
        // Every lock of this test lives in its own folder, away from a real session's.
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        m_lockFile = m_runtime.path().toStdString() + "/KESTAV_ZUNPACK_TOOL.lock";
    }

    // The command line, argument by argument: an absolute path is a file name whatever
    // letters follow its slashes, an option stands alone with its file after it, and nothing
    // is trimmed.
    void parseArguments_data()
    {
        using Args = std::vector<std::string>;
        QTest::addColumn<Args>("args");
        QTest::addColumn<QString>("command");
        QTest::addColumn<std::optional<std::string>>("file");
        QTest::addColumn<QString>("ends"); // "help", "version", "unknown" or ""
        using S = std::optional<std::string>;
        QTest::newRow("nothing") << Args{} << "G" << S() << "";
        QTest::newRow("a path with /Games/")
            << Args{"/home/u/Games/g.kmx"} << "G" << S("/home/u/Games/g.kmx") << "";
        QTest::newRow("a path with /Projects/")
            << Args{"/home/u/Projects/p.kmx"} << "G" << S("/home/u/Projects/p.kmx") << "";
        QTest::newRow("a path in /usr")
            << Args{"/usr/share/u.0KX"} << "G" << S("/usr/share/u.0KX") << "";
        QTest::newRow("a path with /Updates/")
            << Args{"/Updates/u.0KX"} << "G" << S("/Updates/u.0KX") << "";
        QTest::newRow("/G and a file")
            << Args{"/G", "/home/my folder/a.kmx"} << "G" << S("/home/my folder/a.kmx") << "";
        QTest::newRow("/G alone (the menu's entry)") << Args{"/G"} << "G" << S() << "";
        QTest::newRow("/P") << Args{"/P", "/data/p.kmx"} << "P" << S("/data/p.kmx") << "";
        QTest::newRow("/u in lower case")
            << Args{"/u", "/data/p.0KX"} << "U" << S("/data/p.0KX") << "";
        QTest::newRow("/T") << Args{"/T", "/data/p.0KX"} << "T" << S("/data/p.0KX") << "";
        QTest::newRow("--pack") << Args{"--pack", "p.kmx"} << "P" << S("p.kmx") << "";
        QTest::newRow("-u") << Args{"-u", "p.0KX"} << "U" << S("p.0KX") << "";
        QTest::newRow("--test") << Args{"--test", "p.0KX"} << "T" << S("p.0KX") << "";
        QTest::newRow("an option after an option")
            << Args{"/G", "/P", "a.kmx"} << "P" << S("a.kmx") << "";
        QTest::newRow("blanks kept") << Args{" lead.kmx "} << "G" << S(" lead.kmx ") << "";
        QTest::newRow("the last file wins") << Args{"a.kmx", "b.kmx"} << "G" << S("b.kmx") << "";
        QTest::newRow("-- ends the options") << Args{"--", "--help"} << "G" << S("--help") << "";
        QTest::newRow("a file named /G after --") << Args{"--", "/G"} << "G" << S("/G") << "";
        QTest::newRow("--help") << Args{"--help"} << "G" << S() << "help";
        QTest::newRow("-h") << Args{"-h"} << "G" << S() << "help";
        QTest::newRow("--version") << Args{"--version"} << "G" << S() << "version";
        QTest::newRow("an unknown option") << Args{"--frobnicate"} << "G" << S() << "unknown";
    }

    void parseArguments()
    {
        QFETCH(std::vector<std::string>, args);
        QFETCH(QString, command);
        QFETCH(std::optional<std::string>, file);
        QFETCH(QString, ends);
        std::vector<std::string> storage = args;
        std::vector<char*> argv;
        char program[] = "packtool";
        argv.push_back(program);
        for (std::string& arg : storage) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const CZUNPackApp::Options options =
            CZUNPackApp::ParseArguments(static_cast<int>(storage.size() + 1), argv.data());
        QCOMPARE(QString(QChar(options.command)), command);
        QCOMPARE(options.file, file);
        QCOMPARE(options.help, ends == QStringLiteral("help"));
        QCOMPARE(options.version, ends == QStringLiteral("version"));
        QCOMPARE(!options.unknownOption.empty(), ends == QStringLiteral("unknown"));
    }

    // The start with an absolute path: the field holds exactly that path and no dialog
    // opens. --help and --version, in the real program, end at once with status 0 and take no
    // lock (a running program is not asked).
    void absolutePathsFillTheFieldAndOpenNothing()
    {
        Modal::SetScriptedOnly(true);
        for (std::string path : {std::string("/home/u/Games/g.kmx"), std::string("/usr/p.0KX"),
                                 std::string("/data/Projects/Updates/x.kmx"), std::string("/G")}) {
            Modal::Reset();
            char a0[] = "packtool";
            std::string option = "--";
            char* argv[] = {a0, option.data(), path.data(), nullptr};
            int argc = 3;
            CZUNPackApp app(argc, argv);
            QVERIFY(app.Start());
            QCOMPARE(app.MainFrame()->View()->FileNameField()->text(),
                     QString::fromStdString(path));
            QTest::qWait(50);
            QVERIFY2(Modal::Shown().empty(), path.c_str());
            QCOMPARE(app.Finish(), 0);
        }
        InstanceLock running("KESTAV_ZUNPACK_TOOL");
        QCOMPARE(running.TryAcquire(), InstanceLock::Acquired);
        for (const char* flag : {"--help", "--version"}) {
            Child child({"QT_QPA_PLATFORM=offscreen", "PACKTOOL_LANG=en",
                         "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString()},
                        {flag});
            QCOMPARE(child.WaitForExit(20s), std::optional<int>(0));
        }
        Child unknown({"QT_QPA_PLATFORM=offscreen", "PACKTOOL_LANG=en",
                       "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString()},
                      {"--frobnicate"});
        QCOMPARE(unknown.WaitForExit(20s), std::optional<int>(2));
        running.Release();
    }

    // The whole start-up in this process: the lock, the window, the field and the caption.
    void initInstanceFillsFieldAndCaption_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("caption");
        QTest::newRow("English") << "en"
                                 << "Pack Tool";
        QTest::newRow("Japanese") << "ja" << QString::fromUtf8("圧縮ﾂｰﾙ");
    }

    void initInstanceFillsFieldAndCaption()
    {
        QFETCH(QString, lang);
        QFETCH(QString, caption);
        qputenv("PACKTOOL_LANG", lang.toLatin1());
        char a0[] = "packtool", a1[] = "/G", a2[] = "/home/my folder/a.kmx";
        char* argv[] = {a0, a1, a2, nullptr};
        int argc = 3;
        {
            CZUNPackApp app(argc, argv);
            QVERIFY(app.Start());
            QCOMPARE(app.MainFrame()->View()->FileNameField()->text(),
                     QStringLiteral("/home/my folder/a.kmx"));
            QCOMPARE(app.MainFrame()->windowTitle(), caption);
            QVERIFY(app.MainFrame()->isVisible());
            // Qt's own texts (file chooser, edit menus) follow the language too.
            const QString open = QCoreApplication::translate("QFileDialog", "&Open");
            QCOMPARE(open == QStringLiteral("&Open"), lang == QStringLiteral("en"));

            InstanceLock other("KESTAV_ZUNPACK_TOOL");
            QCOMPARE(other.TryAcquire(), InstanceLock::HeldElsewhere);
            QCOMPARE(app.Finish(), 0);
            QCOMPARE(other.TryAcquire(), InstanceLock::Acquired);
        }
        qputenv("PACKTOOL_LANG", "en");
        SetLanguage(Language::English);
    }

    // A second instance ends at once with status 0 while the first runs; after the first has
    // ended, even by a crash, the next one starts normally.
    void secondInstanceRefusedUntilFirstEnds()
    {
        const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "PACKTOOL_LANG=en",
                                              "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString()};
        Child first(env);
        QVERIFY(WaitUntilHolding(first.Pid(), m_lockFile));

        Child second(env);
        QCOMPARE(second.WaitForExit(20s), std::optional<int>(0));
        QVERIFY(!first.WaitForExit(0ms)); // the first runs on, unchanged
        QVERIFY(HoldsLock(first.Pid(), m_lockFile));

        // A crash leaves the lock file behind but not the lock.
        first.Kill(SIGKILL);
        Child third(env);
        QVERIFY(WaitUntilHolding(third.Pid(), m_lockFile));
        QVERIFY(!third.WaitForExit(300ms));
        third.Kill(SIGTERM);
    }

    // A second start hands its file to the running window, which takes it and comes back from
    // the task bar, and ends with status 0. "/P" and "/U" (a file manager's Pack and Unpack)
    // open that command's dialog on the file. A start without a file raises the window only.
    void secondStartHandsOverItsFile_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("/G") << "/G"
                            << "";
        QTest::newRow("a plain path") << "plain"
                                      << "";
        QTest::newRow("/P") << "/P"
                            << "Pack Project File";
        QTest::newRow("/U") << "/U"
                            << "UnPack Packed File";
        QTest::newRow("/T") << "/T"
                            << "Test Packed File";
        QTest::newRow("nothing") << ""
                                 << "";
        QTest::newRow("/G without a file") << "/G-alone"
                                           << "";
    }

    void secondStartHandsOverItsFile()
    {
        QFETCH(QString, option);
        QFETCH(QString, dialog);
        char a0[] = "packtool";
        char* argv[] = {a0, nullptr};
        int argc = 1;
        CZUNPackApp app(argc, argv);
        QVERIFY(app.Start());
        Modal::SetScriptedOnly(true);
        Modal::Reset();
        QLineEdit* field = app.MainFrame()->View()->FileNameField();
        field->setText(QStringLiteral("/before.kmx"));
        app.MainFrame()->showMinimized();

        const std::string file = "/data/my folder/deck.0KX";
        std::vector<std::string> args;
        if (option == QStringLiteral("/G-alone")) {
            args = {"/G"};
        } else if (option == QStringLiteral("plain")) {
            args = {file};
        } else if (!option.isEmpty()) {
            args = {option.toStdString(), file};
        }
        Child second({"QT_QPA_PLATFORM=offscreen", "PACKTOOL_LANG=en",
                      "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString()},
                     args);
        const QString expected = option.isEmpty() || option == QStringLiteral("/G-alone")
                                     ? QStringLiteral("/before.kmx")
                                     : QString::fromStdString(file);
        QTRY_VERIFY_WITH_TIMEOUT(!app.MainFrame()->isMinimized(), 20000);
        QCOMPARE(field->text(), expected);
        QCOMPARE(second.WaitForExit(20s), std::optional<int>(0));
        if (dialog.isEmpty()) {
            QTest::qWait(50);
            QVERIFY(Modal::Shown().empty());
        } else {
            QTRY_COMPARE(Modal::Shown().size(), size_t(1));
            QCOMPARE(Modal::Shown()[0].kind, Modal::Record::Dialog);
            QCOMPARE(Modal::Shown()[0].text, dialog);
        }
        QCOMPARE(app.Finish(), 0);
    }

    // A second start while a job runs: the window keeps the job's file and says in its log
    // what was asked, and the second start ends with status 1, not as if it had been done.
    void secondStartDuringAJobIsRefused()
    {
        char a0[] = "packtool";
        char* argv[] = {a0, nullptr};
        int argc = 1;
        CZUNPackApp app(argc, argv);
        QVERIFY(app.Start());
        Modal::SetScriptedOnly(true);
        Modal::Reset();
        CMainFrame* frame = app.MainFrame();
        frame->View()->FileNameField()->setText(QStringLiteral("/jobs/running.kmx"));
        frame->JobStateChanged(JOB_COMPRESSING);

        Child second({"QT_QPA_PLATFORM=offscreen", "PACKTOOL_LANG=en",
                      "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString()},
                     {"/U", "/data/deck.0KX"});
        std::optional<int> status;
        // The window answers while its events are handled.
        QTRY_VERIFY_WITH_TIMEOUT((status = second.WaitForExit(0ms)).has_value(), 20000);
        QCOMPARE(status, std::optional<int>(1));
        QCOMPARE(frame->View()->FileNameField()->text(), QStringLiteral("/jobs/running.kmx"));
        QVERIFY(
            frame->View()->StatusLog()->toPlainText().contains(QStringLiteral("/data/deck.0KX")));
        QVERIFY(Modal::Shown().empty());
        frame->JobStateChanged(JOB_IDLE);
        QCOMPARE(app.Finish(), 0);
    }

    // Without "/G" the window starts with the file of the last job.
    void lastFileComesBack()
    {
        Settings::SetLastFile(QStringLiteral("/data/last job/deck.kmx"));
        char a0[] = "packtool";
        char* argv[] = {a0, nullptr};
        int argc = 1;
        {
            CZUNPackApp app(argc, argv);
            QVERIFY(app.Start());
            QCOMPARE(app.MainFrame()->View()->FileNameField()->text(),
                     QStringLiteral("/data/last job/deck.kmx"));
            app.Finish();
        }
        Settings::SetLastFile(QString());
    }

    void lockRefusesForeignFolder()
    {
        // Without a usable runtime folder the lock goes to a private folder in /tmp; a runtime
        // folder open to other users is not used.
        QTemporaryDir open;
        QVERIFY(chmod(open.path().toLocal8Bit().constData(), 0777) == 0);
        qputenv("XDG_RUNTIME_DIR", open.path().toLocal8Bit());
        std::string error;
        const std::string folder = InstanceLock::LockFolder("KESTAV_ZUNPACK_TOOL_TEST", &error);
        QCOMPARE(folder, "/tmp/KESTAV_ZUNPACK_TOOL_TEST-" + std::to_string(getuid()));
        struct stat st {};
        QVERIFY(lstat(folder.c_str(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        rmdir(folder.c_str());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    }

private:
    QTemporaryDir m_runtime;
    QTemporaryDir m_settings;
    std::string m_lockFile;
};

QTEST_APPLESS_MAIN(StartupTest)
#include "test_startup.moc"
