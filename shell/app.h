// CZUNPackApp: starts the desktop program as the one instance of the user, creates the main
// frame with its form, applies the "/G" option and sets the caption.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

class QApplication;
class CMainFrame;
class InstanceLock;

// The name of the single-instance lock.
extern const char kInstanceLockName[];

class CZUNPackApp {
public:
    CZUNPackApp(int& argc, char** argv);
    ~CZUNPackApp();
    CZUNPackApp(const CZUNPackApp&) = delete;
    CZUNPackApp& operator=(const CZUNPackApp&) = delete;

    // True: the main window is up, run the event loop. False: end now (another instance
    // runs, or no window could be made), with Finish's code.
    bool Start();
    // Releases the single-instance lock; answers the exit code: 0, or for a second start 1
    // when the running window did not take its request (a job ran) or could not be reached.
    int Finish();
    // Start, the event loop, Finish: the whole run.
    int Run();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

    // What the command line asks for. Each argument stands alone: "/G FILE", "/P FILE",
    // "/U FILE" and "/T FILE" (any letter case; "-g", "--open", "--pack", "--unpack" and
    // "--test" alike) name the file and open nothing, Pack, Unpack or Test on it; an option
    // without a file after it names none (the field keeps the last file). "--help" and
    // "--version" print and end; "--" ends the options. Any other argument is a file name,
    // exactly as given: on Linux every absolute path begins with "/". The last file wins.
    struct Options {
        char command = 'G';
        std::optional<std::string> file;
        bool help = false;
        bool version = false;
        std::string unknownOption; // an argument like "--frobnicate": refused with the usage
    };
    static Options ParseArguments(int argc, char** argv);
    // The usage that --help prints.
    static std::string Usage();

private:
    void OpenFromCommandLine();

    int& m_argc;
    char** m_argv;
    Options m_options;
    std::unique_ptr<InstanceLock> m_instanceLock;
    std::unique_ptr<QApplication> m_pQtApp;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<QObject> m_pChannel;
    int m_handOverStatus = 0;
};
