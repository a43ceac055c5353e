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
    // Releases the single-instance lock; answers the exit code, 0.
    int Finish();
    // Start, the event loop, Finish: the whole run.
    int Run();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }

    // The command line after the program's name, its arguments joined with single spaces.
    static std::string CommandTail(int argc, char** argv);
    // The File Name that "/G" sets in the tail, or nothing when the tail has no "/G".
    static std::optional<std::string> ScanGOption(const std::string& tail);
    // What the tail asks for: "/G FILE" names the file; "/P FILE" and "/U FILE" name it and
    // open Pack or Unpack on it (a file manager's Pack and Unpack). The last option wins.
    struct Options {
        char command = 'G';
        std::optional<std::string> file;
    };
    static Options ScanOptions(const std::string& tail);

private:
    void ScanCommandLine();

    int& m_argc;
    char** m_argv;
    std::string m_strCommandTail;
    std::unique_ptr<InstanceLock> m_instanceLock;
    std::unique_ptr<QApplication> m_pQtApp;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<QObject> m_pChannel;
};
