// packtool-screenshots: renders the program's windows into PNG files for the documentation.
// Usage: packtool-screenshots OUTPUT_FOLDER (language from PACKTOOL_LANG, as the program).
// Each window is shown as the program shows it, with a sample job in the form, and grabbed.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPainter>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QAction>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packjob.h"
#include "platform/files.h"
#include "platform/thread.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/ids.h"
#include "shell/images.h"
#include "shell/modal.h"
#include "shell/mainframe.h"
#include "shell/qthost.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

// Offscreen there is no window manager, so the caption bar that a desktop draws around the
// window is drawn here: the window's icon and title on a plain bar, then the window itself.
// overlay, when given, is drawn over the window: a popup menu, say, at its place.
QImage WithCaption(QWidget& widget, QWidget* overlay = nullptr, QPoint overlayAt = QPoint())
{
    // At a scale above 1 the picture has the screen's pixels: the window's size in its own
    // units times the scale, the caption drawn at that scale too.
    const QPixmap client = widget.grab();
    const qreal scale = client.devicePixelRatio();
    const QSize size = (QSizeF(client.size()) / scale).toSize();
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    const int bar = std::max(20, metrics.height() + 6);
    const int border = 3;
    QImage image(QSize(size.width() + 2 * border, size.height() + bar + border) * scale,
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(QColor(192, 192, 192));
    QPainter painter(&image);
    painter.fillRect(border, border, size.width(), bar - border, QColor(0, 0, 128));
    int x = border + 3;
    const QIcon icon = widget.windowIcon();
    if (!icon.isNull()) {
        painter.drawPixmap(x, border + (bar - border - 16) / 2, icon.pixmap(16, 16));
        x += 20;
    }
    painter.setPen(Qt::white);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRect(x, border, size.width() - x, bar - border),
                     Qt::AlignLeft | Qt::AlignVCenter, widget.windowTitle());
    painter.drawPixmap(border, bar, client);
    if (overlay) {
        painter.drawPixmap(QPoint(border, bar) + overlayAt, overlay->grab());
    }
    return image;
}

bool Save(QWidget& widget, const QString& path)
{
    QCoreApplication::processEvents();
    const bool saved = WithCaption(widget).save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// Grabs the next modal window the program opens (a question, a chooser) once it is up, then
// closes it as Cancel would.
void SaveNextModal(const QString& path, bool& ok)
{
    QTimer::singleShot(500, [path, &ok] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            std::printf("FAILED %s: no window\n", qPrintable(path));
            ok = false;
            return;
        }
        ok &= Save(*modal, path);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
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
    InstallQtTranslations(app);
    QApplication::setWindowIcon(AppIcon());
    // Absolute: a chooser is grabbed while the current folder is the set's.
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(folder);
    QString suffix =
        CurrentLanguage() == Language::Japanese ? QStringLiteral("ja") : QStringLiteral("en");
    // At another scale than 1 the pictures are named for it: main-window-ja-scale2.png.
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
    if (!scale.isEmpty() && scale != QLatin1String("1")) {
        suffix += QStringLiteral("-scale") + scale;
    }
    bool ok = true;

    CMainFrame frame;
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
        for (qint64 line = 0; file.size() < 2400000; ++line) {
            file.write("beam " + QByteArray::number(line) + " span " +
                       QByteArray::number(line * 7919 % 100000) + " load " +
                       QByteArray::number(line * 104729 % 65536) + "\n");
        }
    }
    frame.View()->FileNameField()->setText(project);
    PackRequest request;
    request.projectPath = project.toStdString();
    request.split = true;
    request.volumeSize = 360000;
    PackOutcome outcome;
    if (StartPackJob(request, outcome)) {
        while (RunningWorkerThreads() > 0 || g_nJobState != JOB_IDLE) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    QCoreApplication::processEvents();
    ok &= Save(frame, folder + QStringLiteral("/main-window-%1.png").arg(suffix));

    // The same window made larger: the log and the field grow with it.
    {
        const QSize classic = frame.size();
        frame.resize(classic + QSize(260, 170));
        QCoreApplication::processEvents();
        ok &= Save(frame, folder + QStringLiteral("/main-window-resized-%1.png").arg(suffix));
        frame.resize(classic);
        QCoreApplication::processEvents();
    }

    // The Status log's context menu, opened over the log.
    {
        QMenu* menu = frame.View()->CreateLogMenu(&frame);
        const QPoint at = frame.View()->StatusLog()->viewport()->mapTo(&frame, QPoint(60, 40));
        menu->popup(frame.mapToGlobal(at));
        QCoreApplication::processEvents();
        const QString path = folder + QStringLiteral("/log-menu-%1.png").arg(suffix);
        const bool saved = WithCaption(frame, menu, at).save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok &= saved;
        menu->close();
        delete menu;
    }

    // The questions of everyday use, as the program asks them.
    {
        const std::string packed = demo.filePath(QStringLiteral("bridge.0KX")).toStdString();
        SaveNextModal(folder + QStringLiteral("/question-yes-to-all-%1.png").arg(suffix), ok);
        Modal::MessageBox(
            &frame,
            QString::fromStdString(
                FormatText(LoadString(IDS_OVERWRITE_QUESTION).c_str(), packed.c_str()) + "\n\n" +
                FormatText(LoadString(IDS_REPLACE_MORE_FILES).c_str(), 6L)),
            MB_OKCANCEL | MB_ICONEXCLAMATION | MB_YESTOALL);
        // Closing while a job runs: Keep Working here.
        frame.JobStateChanged(JOB_COMPRESSING);
        SaveNextModal(folder + QStringLiteral("/close-during-job-%1.png").arg(suffix), ok);
        frame.close();
        frame.JobStateChanged(JOB_IDLE);
        // A set on read-only media, at OK in the Unpack dialog.
        SaveNextModal(folder + QStringLiteral("/unpack-read-only-%1.png").arg(suffix), ok);
        Modal::MessageBox(
            &frame,
            QString::fromStdString(FormatText(LoadString(IDS_FOLDER_READ_ONLY_CHOOSE).c_str(),
                                              "/media/cdrom", SystemErrorText(EROFS).c_str())),
            MB_OKCANCEL | MB_ICONEXCLAMATION);
        // The chooser for a missing volume, titled with the volume it wants.
        const std::vector<std::string> found{packed};
        FindVolumeRequest missing{"1KX", "bridge", 1, 4, &found};
        SaveNextModal(folder + QStringLiteral("/volume-chooser-%1.png").arg(suffix), ok);
        // Opened in the set's folder, as an unpack of the set opens it.
        const QString start = QDir::currentPath();
        QDir::setCurrent(demo.path());
        frame.FindVolume(missing);
        QDir::setCurrent(start);
        // A set with recovery files and a lost volume: Test's offer to unpack it, and the
        // unpack's question before the rebuild.
        const std::string index = demo.filePath(QStringLiteral("bridge.par2")).toStdString();
        SaveNextModal(folder + QStringLiteral("/rebuild-offer-%1.png").arg(suffix), ok);
        Modal::MessageBox(
            &frame,
            QString::fromStdString(FormatText(LoadString(IDS_RECOVERY_REPAIRABLE_ONE).c_str(),
                                              packed.c_str(), 2L, index.c_str())) +
                QStringLiteral("\n\n") + Text(IDS_WINDOW_OFFER_REBUILD),
            MB_OKCANCEL | MB_ICONEXCLAMATION);
        const std::string damage =
            FormatText(LoadString(IDS_RECOVERY_VOLUME_MISSING).c_str(), 2L, "bridge.2KX");
        SaveNextModal(folder + QStringLiteral("/rebuild-question-%1.png").arg(suffix), ok);
        Modal::MessageBox(
            &frame,
            QString::fromStdString(FormatText(LoadString(IDS_RECOVERY_ASK_REBUILD).c_str(),
                                              damage.c_str(), index.c_str())),
            MB_OKCANCEL | MB_ICONEXCLAMATION);
    }

    // No box waits for a user here: one that nobody expected is answered Cancel.
    Modal::SetScriptedOnly(true);
    // Runs a command to its end through its dialog's OK (after Browse, which then takes the
    // files of Modal::SetNextFileNames, when browse is set).
    auto runCommand = [&frame](int command, bool browse = false) {
        Modal::SetNextModal([browse](QDialog& dialog) {
            if (browse)
                dialog.findChild<QPushButton*>(QStringLiteral("browse"))->click();
            dialog.findChild<QPushButton*>(QStringLiteral("ok"))->click();
            return dialog.result();
        });
        frame.Action(command)->trigger();
        while (frame.IsJobRunning()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        QCoreApplication::processEvents();
    };
    // Test on the set just written: the log says whether it is sound.
    runCommand(ID_TEST_PACKED);
    ok &= Save(frame, folder + QStringLiteral("/main-window-test-%1.png").arg(suffix));

    // An unpack of the set, grabbed while it decodes with Cancel available, then cancelled
    // there: the job waits on the bar while the window is drawn and Cancel pressed.
    {
        bool grabbed = false;
        QProgressBar* progress = frame.View()->Progress();
        const auto connection =
            QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
                if (!grabbed && g_nJobState == JOB_DECOMPRESSING && value >= 40) {
                    grabbed = true;
                    ok &= Save(frame,
                               folder + QStringLiteral("/main-window-cancel-%1.png").arg(suffix));
                    frame.View()->CancelButton()->click();
                }
            });
        runCommand(ID_UNPACK_PROJECT);
        QObject::disconnect(connection);
        ok &= grabbed;
        ok &= Save(frame, folder + QStringLiteral("/main-window-cancelled-%1.png").arg(suffix));
    }

    // A queue of three packed files chosen at once, the second one damaged: the list above the
    // log, each file's lines under its heading, and the summary at the end.
    {
        ClearCancelRequest(); // left by the cancelled unpack before
        QDir queue(demo.filePath(QStringLiteral("queue")));
        queue.mkpath(QStringLiteral("."));
        QStringList chosen;
        for (const char* name : {"arch", "deck", "pier"}) {
            const QString sample = queue.filePath(QLatin1String(name) + ".kmx");
            QFile source(project);
            source.open(QIODevice::ReadOnly);
            QFile file(sample);
            file.open(QIODevice::WriteOnly);
            file.write(source.read(300000 + 200000 * chosen.size()));
            file.close();
            PackRequest one;
            one.projectPath = sample.toStdString();
            PackOutcome packedOne;
            if (StartPackJob(one, packedOne)) {
                while (RunningWorkerThreads() > 0 || g_nJobState != JOB_IDLE) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                }
            }
            QFile::remove(sample);
            chosen << queue.filePath(QLatin1String(name) + ".0KX");
        }
        QFile damaged(chosen[1]);
        damaged.resize(damaged.size() / 2);
        Modal::SetNextFileNames(chosen);
        runCommand(ID_UNPACK_PROJECT, true);
        ok &= Save(frame, folder + QStringLiteral("/main-window-queue-%1.png").arg(suffix));
        // The question after Cancel, while files still wait.
        SaveNextModal(folder + QStringLiteral("/queue-drop-rest-%1.png").arg(suffix), ok);
        Modal::SetScriptedOnly(false);
        Modal::MessageBox(&frame,
                          QString::fromStdString(FormatText(LoadString(IDS_QUEUE_DROP_REST).c_str(),
                                                            chosen[0].toStdString().c_str(), 2L))
                              .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                          MB_OKCANCEL | MB_ICONEXCLAMATION, Text(IDS_DLG_YES), Text(IDS_DLG_NO));
        Modal::SetScriptedOnly(true);
        frame.View()->ShowQueue(false);
    }

    // The dialogs as the commands open them after that pack.
    {
        CPackProjectDlg pack(&frame);
        pack.SetFileName(project);
        pack.show();
        if (!pack.SeparateFileBox()->isChecked()) {
            pack.SeparateFileBox()->click();
        }
        pack.DiskSizeList()->setCurrentIndex(
            pack.DiskSizeList()->findText(QStringLiteral("720 K")));
        pack.RecoveryDisksList()->setCurrentIndex(1);
        if (!pack.WriteChecksumsBox()->isChecked()) {
            pack.WriteChecksumsBox()->click();
        }
        ok &= Save(pack, folder + QStringLiteral("/pack-dialog-%1.png").arg(suffix));
    }
    {
        CUnpackProjectDlg unpack(&frame);
        unpack.SetFileName(WindowJobs::UnpackProposal(project));
        unpack.show();
        ok &= Save(unpack, folder + QStringLiteral("/unpack-dialog-%1.png").arg(suffix));
        // A set on read-only media restores into another folder.
        unpack.IntoFolderField()->setText(QDir::home().filePath(QStringLiteral("projects")));
        ok &= Save(unpack, folder + QStringLiteral("/unpack-dialog-into-%1.png").arg(suffix));
    }
    {
        CAboutDlg about(&frame);
        about.show();
        ok &= Save(about, folder + QStringLiteral("/about-%1.png").arg(suffix));
    }
    ShowHelpFinder(&frame);
    if (CHelpViewer* viewer = CHelpViewer::Of(&frame)) {
        ok &= viewer->HasDocument();
        ok &= Save(*viewer, folder + QStringLiteral("/help-%1.png").arg(suffix));
        // A search: the places marked, the topics they are in listed beside the text.
        viewer->SearchField()->setText(CurrentLanguage() == Language::Japanese
                                           ? QStringLiteral("チェックサム")
                                           : QStringLiteral("checksum"));
        viewer->FindNext();
        ok &= !viewer->Found().isEmpty();
        ok &= Save(*viewer, folder + QStringLiteral("/help-search-%1.png").arg(suffix));
    }
    demo.removeRecursively();

    // The toolbar pictures and the icon at the sizes they are drawn for, side by side.
    {
        const int sizes[] = {16, 24, 32, 48, 64};
        QImage sheet(5 * (64 + 8) + 8 + 136, 5 * (64 + 8) + 8, QImage::Format_ARGB32);
        sheet.fill(QColor(192, 192, 192));
        QPainter painter(&sheet);
        int y = 8;
        for (int size : sizes) {
            int x = 8;
            for (ToolbarImage image : {ToolbarImage::Pack, ToolbarImage::Unpack, ToolbarImage::Test,
                                       ToolbarImage::Exit}) {
                painter.drawPixmap(x, y, DrawToolbarImage(image, size));
                x += 72;
            }
            painter.drawPixmap(x, y, DrawAppIcon(size));
            y += 72;
        }
        painter.drawPixmap(5 * 72 + 8, 8, DrawAppIcon(128));
        painter.end();
        const QString path = folder + QStringLiteral("/icons.png");
        const bool saved = sheet.save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        ok &= saved;
    }

    QtMainWindowHost::Instance().Attach(nullptr);
    frame.JobStateChanged(JOB_IDLE);
    return ok ? 0 : 1;
}
