// packtool-screenshots: renders the program's windows into PNG files for the documentation.
// Usage: packtool-screenshots OUTPUT_FOLDER (language from PACKTOOL_LANG, as the program).
// Each window is shown as the program shows it, with a sample job in the form, and grabbed.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>

#include "engine/jobcontext.h"
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

std::string Format(unsigned id, long original, long packed)
{
    const std::string format = LoadString(id);
    char text[512];
    std::snprintf(text, sizeof text, format.c_str(), original, packed,
                  static_cast<double>(packed) * 100.0 / static_cast<double>(original));
    return text;
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

    // The form as it looks in the middle of a split pack.
    frame.View()->FileNameField()->setText(QStringLiteral("/home/user/projects/bridge.kmx"));
    AppendStatusId(IDS_PACK_START);
    AppendStatus(Format(IDS_SIZE_REPORT, 2841600, 1029436));
    AppendStatus("\r\n");
    AppendStatusId(IDS_SPLIT_START);
    frame.OnJobState(JOB_SPLITTING, 0);
    SetProgress(100);
    ok &= Save(frame, folder + QStringLiteral("/main-window-%1.png").arg(suffix));

    QtMainWindowHost::Instance().Attach(nullptr);
    frame.OnJobState(JOB_IDLE, 0);
    return ok ? 0 : 1;
}
