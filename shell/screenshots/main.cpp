// packtool-screenshots: renders the program's windows into PNG files for the documentation.
// Usage: packtool-screenshots OUTPUT_FOLDER (language from PACKTOOL_LANG, as the program).
// Each window is shown as the program shows it, with a sample job in the form, and grabbed.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>

#include "engine/jobcontext.h"
#include "engine/packjob.h"
#include "platform/thread.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/images.h"
#include "shell/mainframe.h"
#include "shell/qthost.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

bool Save(QWidget& widget, const QString& path)
{
    QCoreApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: packtool-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    SetLanguage(LanguageFromEnvironment());
    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());
    QApplication::setWindowIcon(AppIcon());
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const QString suffix = CurrentLanguage() == Language::Japanese ? QStringLiteral("ja")
                                                                   : QStringLiteral("en");
    bool ok = true;

    CZUNPackDoc document;
    CMainFrame frame(&document);
    QtMainWindowHost::Instance().Attach(&frame);
    frame.View()->OnInitialUpdate();
    frame.show();

    // The form after a real split pack of a sample project into 360K volumes.
    QDir demo(QDir::temp().filePath(QStringLiteral("packtool-demo")));
    demo.removeRecursively();
    demo.mkpath(QStringLiteral("."));
    const QString project = demo.filePath(QStringLiteral("bridge.kmx"));
    {
        QFile file(project);
        file.open(QIODevice::WriteOnly);
        // Text lines with running numbers: they compress, but not to nothing.
        for (int line = 0; file.size() < 2400000; ++line) {
            file.write("beam " + QByteArray::number(line) + " span " +
                       QByteArray::number(line * 7919 % 100000) + " load " +
                       QByteArray::number(line * 104729 % 65536) + "\n");
        }
    }
    frame.View()->FileNameField()->setText(project);
    if (StartPackJob(project.toStdString(), 1, 360000) == 1) {
        while (RunningWorkerThreads() > 0 || g_nJobState != JOB_IDLE) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    QCoreApplication::processEvents();
    ok &= Save(frame, folder + QStringLiteral("/main-window-%1.png").arg(suffix));
    demo.removeRecursively();

    QtMainWindowHost::Instance().Attach(nullptr);
    frame.OnJobState(JOB_IDLE, 0);
    return ok ? 0 : 1;
}
