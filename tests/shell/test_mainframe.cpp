// The main frame as a user sees it: commands and closing that follow the job state, the wait
// cursor, the channel from a worker thread, the form's layout in both languages, and the keys.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <QAccessible>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <atomic>
#include <thread>

#include "engine/jobcontext.h"
#include "platform/strings.h"
#include "shell/ids.h"
#include "shell/images.h"
#include "shell/mainframe.h"
#include "shell/settings.h"
#include "shell/modal.h"
#include "shell/qthost.h"
#include "shell/view.h"
#include "tests/shell/windowfixture.h"

namespace {

bool IsEnabledEverywhere(CMainFrame& frame, int id)
{
    QAction* action = frame.Action(id);
    auto* toolBar = frame.findChild<QToolBar*>(QStringLiteral("toolBar"));
    QWidget* button = toolBar->widgetForAction(action);
    const bool buttonEnabled = button == nullptr || button->isEnabled();
    if (action->isEnabled() != buttonEnabled) {
        qWarning() << "menu item and button disagree for" << id;
    }
    return action->isEnabled() && buttonEnabled;
}

} // namespace

class MainFrameTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }

    void init()
    {
        SetUpWindow();
        m_frame->JobStateChanged(JOB_IDLE);
    }

    void cleanup()
    {
        m_frame->JobStateChanged(JOB_IDLE);
        m_frame->JobBusyEnded();
        QtMainWindowHost::Instance().Attach(nullptr);
        m_frame.reset();
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void jobStateDrivesPaneAndCommands_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("pane");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("idle") << int(JOB_IDLE) << "Ready" << true;
        QTest::newRow("compressing") << int(JOB_COMPRESSING) << "Compressing file..." << false;
        QTest::newRow("splitting") << int(JOB_SPLITTING) << "Splitting file..." << false;
        QTest::newRow("decompressing")
            << int(JOB_DECOMPRESSING) << "Decompressing file..." << false;
        QTest::newRow("joining") << int(JOB_JOINING) << "Joining file..." << false;
        QTest::newRow("unknown state 7") << 7 << "" << false;
    }

    // Posted as the jobs post it; the pane, the menu items and the toolbar buttons follow.
    void jobStateDrivesPaneAndCommands()
    {
        QFETCH(int, state);
        QFETCH(QString, pane);
        QFETCH(bool, enabled);
        PostJobState(JOB_COMPRESSING);
        PostJobState(JobState(state));
        QTRY_COMPARE(g_nJobState, state);
        QCOMPARE(m_frame->PaneText(), pane);
        for (int id : {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT), int(ID_TEST_PACKED),
                       int(ID_APP_EXIT)}) {
            QCOMPARE(IsEnabledEverywhere(*m_frame, id), enabled);
        }
        // Help and About stay available during a job.
        QVERIFY(m_frame->Action(ID_HELP_TOPICS)->isEnabled());
        QVERIFY(m_frame->Action(ID_APP_ABOUT)->isEnabled());

        // Back to idle: everything is available again.
        PostJobState(JOB_IDLE);
        QTRY_COMPARE(g_nJobState, int(JOB_IDLE));
        QCOMPARE(m_frame->PaneText(), QStringLiteral("Ready"));
        QVERIFY(IsEnabledEverywhere(*m_frame, ID_APP_EXIT));
    }

    // The file in the field when the window closes is the next start's, typed or dropped
    // there as much as packed; an empty field keeps the last file.
    void closingRemembersTheField()
    {
        Settings::SetLastFile(QStringLiteral("/data/packed before.0KX"));
        m_frame->View()->FileNameField()->setText(QString());
        QVERIFY(m_frame->close());
        QCOMPARE(Settings::LastFile(), QStringLiteral("/data/packed before.0KX"));
        m_frame->show();
        m_frame->View()->FileNameField()->setText(QStringLiteral("/data/typed in/deck.kmx"));
        QVERIFY(m_frame->close());
        QCOMPARE(Settings::LastFile(), QStringLiteral("/data/typed in/deck.kmx"));
        Settings::SetLastFile(QString());
    }

    // Closing during a job says to wait and offers to stop the job and quit; Keep Working (and
    // a box nobody answers) leaves the window and the job as they were.
    void closeRefusedDuringJob()
    {
        m_frame->JobStateChanged(JobState(7));
        QVERIFY(!m_frame->close());
        QVERIFY(m_frame->isVisible());
        // Exit goes the same way: posted, then refused by the guard.
        m_frame->OnAppExit();
        QTest::qWait(50);
        QVERIFY(m_frame->isVisible());

        const std::vector<Modal::Record>& shown = Modal::Shown();
        QCOMPARE(shown.size(), size_t(2));
        for (const Modal::Record& box : shown) {
            QCOMPARE(box.kind, Modal::Record::Box);
            QCOMPARE(
                box.text,
                QStringLiteral("Please wait for background processing to end before exiting\n\n") +
                    Catalogue(IDS_CLOSE_STOPS_JOB));
            QCOMPARE(box.type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION));
            QCOMPARE(box.owner, m_frame.get());
        }

        m_frame->JobStateChanged(JOB_IDLE);
        Modal::Reset();
        m_frame->OnAppExit();
        QTRY_VERIFY(!m_frame->isVisible());
        QVERIFY(Modal::Shown().empty());
    }

    void waitCursorFollowsBusyAndDone()
    {
        // Done without busy: nothing to end.
        m_frame->JobBusyEnded();
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        SendJobBusy();
        SendJobBusy();
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(m_frame->IsWaitCursorShown());

        // One cursor for both busy calls: one end ends it.
        SendJobBusyEnded();
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(!m_frame->IsWaitCursorShown());
    }

    // A worker's sends wait for the GUI thread and arrive in order; its posts do not wait; a
    // box it asks for is owned by the main window and answered before the worker goes on.
    void workerReachesWindowInOrder()
    {
        m_frame->View()->ClearLog();
        int boxAnswer = 0;
        bool cursorAfterBusy = false;
        std::atomic<bool> workerDone{false};
        std::thread worker([&] {
            PostJobState(JOB_COMPRESSING);
            for (int i = 0; i < 20; ++i) {
                AppendStatus("line " + std::to_string(i) + "\r\n");
                SetProgress(i * 5);
            }
            SendJobBusy();
            // The send has waited: the GUI thread has shown the cursor, and touches it no more
            // until this worker ends it.
            cursorAfterBusy = m_frame->IsWaitCursorShown();
            Modal::SetNextAnswer(IDOK); // read by the GUI thread when the box comes up
            boxAnswer = ShowMessageBoxOwnedByMain("Overwrite?", MB_OKCANCEL | MB_ICONEXCLAMATION);
            SendJobBusyEnded();
            PostJobState(JOB_IDLE);
            workerDone = true;
        });
        // The GUI thread keeps its event loop running while the worker waits on it: after the
        // box the worker still sends JobBusyEnded, which a GUI thread blocked in join() would
        // never answer.
        QTRY_VERIFY_WITH_TIMEOUT(Modal::Shown().size() == 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(workerDone.load(), 10000);
        worker.join();
        QCoreApplication::processEvents();

        QString expected;
        for (int i = 0; i < 20; ++i) {
            expected += QStringLiteral("line %1\n").arg(i);
        }
        QCOMPARE(m_frame->View()->StatusLog()->toPlainText(), expected);
        QCOMPARE(m_frame->View()->Progress()->value(), 95);
        QVERIFY(cursorAfterBusy);
        QCOMPARE(boxAnswer, int(IDOK));
        QCOMPARE(Modal::Shown()[0].owner, m_frame.get());
        QCOMPARE(Modal::Shown()[0].text, QStringLiteral("Overwrite?"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QTRY_COMPARE(g_nJobState, int(JOB_IDLE));
    }

    // The chooser for a missing volume says which volume of which set it wants. A file named
    // as that volume (in any letter case) is taken at once; one named otherwise (another set's
    // volume of the same size, say) only when the user says so, else the chooser opens again.
    void findFileAsksForTheMissingVolume()
    {
        QTemporaryDir folder;
        const QString own = folder.filePath(QStringLiteral("moved/SET.1KX"));
        const QString ownOtherCase = folder.filePath(QStringLiteral("moved/set.1kx"));
        const QString foreign = folder.filePath(QStringLiteral("OTHER.1KX"));
        const QString jobFolder = QDir::currentPath();
        for (const QString& path : {own, foreign, ownOtherCase, foreign}) {
            Modal::SetNextFileName(path);
        }
        Modal::SetNextAnswer(IDOK);        // take the first foreign file
        Modal::SetNextAnswer(IDCANCEL);    // not the second: the chooser opens again
        Modal::SetNextFileName(QString()); // the last time the user cancels

        const std::vector<std::string> found{"/media/cd/SET.0KX"};
        FindVolumeRequest request{"1KX", "SET", 1, 4, &found};
        std::optional<std::string> answers[4];
        std::thread worker([&] {
            for (std::optional<std::string>& answer : answers) {
                answer = FindVolumeThroughMain(request);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(Modal::Shown().size() == 7, 10000);
        worker.join();

        QCOMPARE(QString::fromLocal8Bit(answers[0].value_or("").c_str()), own);
        QCOMPARE(QString::fromLocal8Bit(answers[1].value_or("").c_str()), foreign);
        QCOMPARE(QString::fromLocal8Bit(answers[2].value_or("").c_str()), ownOtherCase);
        QVERIFY(!answers[3].has_value());
        // The job's current folder stays where the job put it.
        QCOMPARE(QDir::currentPath(), jobFolder);

        const QString question =
            QStringLiteral("'%1' is not named as volume 2 of SET.0KX ('SET.1KX'): it may "
                           "belong to another set. Take it as that volume anyway?")
                .arg(foreign);
        const std::vector<Modal::Record>& shown = Modal::Shown();
        QList<Modal::Record::Kind> kinds;
        for (const Modal::Record& record : shown) {
            kinds << record.kind;
            QCOMPARE(record.owner, m_frame.get());
            if (record.kind == Modal::Record::Chooser) {
                QCOMPARE(record.title, QStringLiteral("Volume 2 of 4 of SET.0KX"));
                QCOMPARE(record.text, QStringLiteral("|SET.1KX")); // current folder, initial name
                QCOMPARE(record.filter, QStringLiteral("Packed Files (*.?kx);;All Files (*)"));
            } else {
                QCOMPARE(record.text, question);
            }
        }
        using R = Modal::Record;
        QCOMPARE(kinds, (QList<R::Kind>{R::Chooser, R::Chooser, R::Box, R::Chooser, R::Chooser,
                                        R::Box, R::Chooser}));
    }

    // Cancel beside the bar and Escape ask the running job to stop, and only while one runs;
    // the button shows its whole text in both languages.
    void cancelAsksTheRunningJobToStop()
    {
        int requests = 0;
        m_frame->SetCancelRequest([&] { ++requests; });
        QPushButton* cancel = m_frame->View()->CancelButton();
        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QVERIFY(!cancel->isEnabled());
        QTest::keyClick(m_frame.get(), Qt::Key_Escape);
        QCOMPARE(requests, 0);

        m_frame->JobStateChanged(JOB_COMPRESSING);
        QVERIFY(cancel->isEnabled());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(requests, 1);
        QTest::keyClick(m_frame->View()->FileNameField(), Qt::Key_Escape);
        QCOMPARE(requests, 2);

        m_frame->JobStateChanged(JOB_IDLE);
        QVERIFY(!cancel->isEnabled());
        QCOMPARE(cancel->geometry().top(), m_frame->View()->Progress()->geometry().top());
        QVERIFY(cancel->geometry().left() > m_frame->View()->Progress()->geometry().right());
        for (Language language : {Language::English, Language::Japanese}) {
            SetLanguage(language);
            CMainFrame frame;
            QPushButton* button = frame.View()->CancelButton();
            QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) + 6 <= button->width());
            QVERIFY(button->parentWidget()->rect().contains(button->geometry()));
        }
        SetLanguage(Language::English);
    }

    // The log's context menu copies and saves the whole log; the log stays read-only.
    void statusLogMenuCopiesAndSaves()
    {
        CZUNPackView* view = m_frame->View();
        view->ClearLog();
        std::unique_ptr<QMenu> emptyMenu(view->CreateLogMenu(nullptr));
        for (QAction* action : emptyMenu->actions())
            QVERIFY(!action->isEnabled());

        view->AppendToLog(
            QStringLiteral("\r\n ********* Starting *********\r\nOriginal File size = 3 bytes."));
        const QString expected =
            QStringLiteral("\n ********* Starting *********\nOriginal File size = 3 bytes.");
        std::unique_ptr<QMenu> menu(view->CreateLogMenu(nullptr));
        auto* copy = menu->findChild<QAction*>(QStringLiteral("copyLog"));
        auto* save = menu->findChild<QAction*>(QStringLiteral("saveLog"));
        QVERIFY(copy && save);
        QCOMPARE(copy->text(), QStringLiteral("&Copy"));
        QCOMPARE(save->text(), QStringLiteral("&Save Log..."));

        QGuiApplication::clipboard()->clear();
        copy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.txt"));
        Modal::SetNextFileName(path);
        save->trigger();
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()), expected + QLatin1Char('\n'));
        QCOMPARE(Modal::Shown().back().kind, Modal::Record::Chooser);

        // A file that cannot be written is reported; nothing else changes.
        const QString nowhere = dir.filePath(QStringLiteral("missing/folder/job.txt"));
        Modal::SetNextFileName(nowhere);
        save->trigger();
        QCOMPARE(Modal::Shown().back().kind, Modal::Record::Box);
        QCOMPARE(Modal::Shown().back().text,
                 QStringLiteral("Unable to save the log to '%1'.").arg(nowhere));
        QVERIFY(!QFile::exists(nowhere));
        QVERIFY(view->StatusLog()->isReadOnly());
        QCOMPARE(view->StatusLog()->toPlainText(), expected);
    }

    void promptsAndTooltips_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("Pack") << int(ID_PACK_PROJECT) << "Pack an existing KMX file."
                              << "Pack an existing KMX file";
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT) << "Unpack a packed file"
                                << "Unpack a packed file";
        QTest::newRow("Exit") << int(ID_APP_EXIT) << "Quit the application"
                              << "Exit";
    }

    void promptsAndTooltips()
    {
        QFETCH(int, id);
        QFETCH(QString, prompt);
        QFETCH(QString, tooltip);
        QAction* action = m_frame->Action(id);
        QCOMPARE(action->toolTip(), tooltip);
        // Pointing at the button shows the prompt in the message pane.
        auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
        QWidget* button = toolBar->widgetForAction(action);
        QVERIFY(button != nullptr);
        QTest::mouseMove(button);
        QTRY_COMPARE(m_frame->statusBar()->currentMessage(), prompt);
    }

    // Four pictures (Test has its button too) that differ at every size, drawn for each size
    // rather than scaled, so a scale of 2 shows the 32-pixel drawing; the window icon has
    // pictures up to 256 pixels.
    void toolbarAndIconsAreDrawnForEverySize()
    {
        auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
        const QList<QAction*> actions = toolBar->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0], m_frame->Action(ID_PACK_PROJECT));
        QCOMPARE(actions[1], m_frame->Action(ID_UNPACK_PROJECT));
        QCOMPARE(actions[2], m_frame->Action(ID_TEST_PACKED));
        QCOMPARE(actions[3], m_frame->Action(ID_APP_EXIT));
        const ToolbarImage images[] = {ToolbarImage::Pack, ToolbarImage::Unpack, ToolbarImage::Test,
                                       ToolbarImage::Exit};
        for (int size : {16, 32}) {
            QList<QImage> seen;
            for (int i = 0; i < 4; ++i) {
                const QImage image = actions[i]->icon().pixmap(QSize(size, size)).toImage();
                QCOMPARE(image.size(), QSize(size, size));
                QCOMPARE(image, DrawToolbarImage(images[i], size).toImage());
                QVERIFY(!seen.contains(image));
                // Not alike: more than a quarter of the pixels differ from each other picture.
                for (const QImage& other : seen) {
                    int different = 0;
                    for (int y = 0; y < size; ++y)
                        for (int x = 0; x < size; ++x)
                            different += image.pixel(x, y) != other.pixel(x, y) ? 1 : 0;
                    QVERIFY2(different * 4 > size * size, qPrintable(QString::number(different)));
                }
                seen << image;
            }
        }
        const QPixmap doubled = actions[0]->icon().pixmap(QSize(16, 16), 2.0);
        QCOMPARE(doubled.size(), QSize(32, 32));
        QImage doubledImage =
            doubled.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        doubledImage.setDevicePixelRatio(1.0);
        QCOMPARE(doubledImage, DrawToolbarImage(ToolbarImage::Pack, 32)
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const QList<QSize> iconSizes = m_frame->windowIcon().availableSizes();
        for (int size : {16, 32, 48, 64, 128, 256}) {
            QVERIFY2(iconSizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        }
        QVERIFY(!toolBar->isMovable());
        QVERIFY(!toolBar->isFloatable());
    }

    // New puts the window back at the classic size and place (a quarter of the screen from
    // its corner, moved in as far as the screen needs), which it can leave: it resizes.
    void newPlacesFrameAgain()
    {
        const QRect screen = m_frame->screen()->geometry();
        const QRect room = m_frame->screen()->availableGeometry();
        const QSize classic = m_frame->size();
        m_frame->setGeometry(QRect(screen.topLeft() + QPoint(3, 5), classic + QSize(40, 30)));
        QCOMPARE(m_frame->size(), classic + QSize(40, 30));
        QTest::keyClick(m_frame.get(), Qt::Key_N, Qt::ControlModifier);
        const QPoint quarter = screen.topLeft() + QPoint(screen.width() / 4, screen.height() / 4);
        const QSize outer = m_frame->frameGeometry().size();
        QCOMPARE(m_frame->pos(), QPoint(std::min(quarter.x(), room.right() + 1 - outer.width()),
                                        std::min(quarter.y(), room.bottom() + 1 - outer.height())));
        QVERIFY(room.contains(m_frame->frameGeometry()));
        QCOMPARE(m_frame->size(), classic);
        CZUNPackView* view = m_frame->View();
        QVERIFY(m_frame->rect().contains(
            QRect(view->mapTo(m_frame.get(), QPoint(0, 0)), view->size())));
        QCOMPARE(view->FormSize(), QSize(view->Control(IDC_FILE_NAME)->parentWidget()->size()));
        QVERIFY(m_frame->minimumSize().width() < classic.width());
        QCOMPARE(m_frame->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }

    // Growing the window grows the field and the log; the bar keeps to the bottom; the labels
    // and the field keep their places. Shrunk, it keeps a log of a few lines.
    void resizingGrowsLogAndField()
    {
        CZUNPackView* view = m_frame->View();
        QWidget* form = view->Control(IDC_FILE_NAME)->parentWidget();
        auto geometryOf = [&](const char* name) {
            return form->findChild<QWidget*>(QLatin1String(name))->geometry();
        };
        const char* names[] = {"fileNameLabel", "fileName", "statusLabel",
                               "statusLog",     "progress", "progressLabel"};
        QHash<QString, QRect> before;
        for (const char* name : names)
            before.insert(QLatin1String(name), geometryOf(name));
        m_frame->resize(m_frame->size() + QSize(200, 120));
        QCoreApplication::processEvents();
        QCOMPARE(geometryOf("fileNameLabel"), before["fileNameLabel"]);
        QCOMPARE(geometryOf("statusLabel"), before["statusLabel"]);
        QCOMPARE(geometryOf("fileName"), before["fileName"].adjusted(0, 0, 200, 0));
        QCOMPARE(geometryOf("statusLog"), before["statusLog"].adjusted(0, 0, 200, 120));
        QCOMPARE(geometryOf("progress"),
                 before["progress"].translated(0, 120).adjusted(0, 0, 200, 0));
        QCOMPARE(geometryOf("progressLabel"), before["progressLabel"].translated(0, 120));

        m_frame->resize(m_frame->minimumSize());
        QCoreApplication::processEvents();
        const QRect log = geometryOf("statusLog");
        QVERIFY(log.height() >= 3 * view->StatusLog()->fontMetrics().lineSpacing());
        QVERIFY(geometryOf("progress").top() > log.bottom());
        QVERIFY(form->rect().contains(geometryOf("progress")));
    }

    // Closed, the window's place is kept; the next window opens there, or on the screen when
    // the place is off it (another monitor gone) or larger than it.
    void placeIsRememberedAndKeptOnScreen_data()
    {
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QSize>("growth");
        QTest::addColumn<bool>("same");
        QTest::newRow("on the screen") << QPoint(30, 40) << QSize(60, 50) << true;
        QTest::newRow("beyond the right edge") << QPoint(5000, 40) << QSize(0, 0) << false;
        QTest::newRow("above the top") << QPoint(30, -3000) << QSize(0, 0) << false;
        QTest::newRow("larger than the screen") << QPoint(0, 0) << QSize(4000, 3000) << false;
    }

    void placeIsRememberedAndKeptOnScreen()
    {
        QFETCH(QPoint, offset);
        QFETCH(QSize, growth);
        QFETCH(bool, same);
        const QRect screen = m_frame->screen()->availableGeometry();
        const QRect saved(screen.topLeft() + offset, m_frame->size() + growth);
        m_frame->setGeometry(saved);
        QVERIFY(m_frame->close());

        CMainFrame next;
        next.View()->OnInitialUpdate();
        next.RestoreGeometry();
        if (same) {
            QCOMPARE(next.geometry(), saved);
        } else {
            QVERIFY(next.geometry() != saved);
        }
        QVERIFY2(screen.contains(next.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(next.x())
                                                                       .arg(next.y())
                                                                       .arg(next.width())
                                                                       .arg(next.height())));
    }

    // A project or packed file dropped on the field (or anywhere on the window) names it;
    // nothing starts. Drops with no such file are refused and change nothing.
    void droppedFileFillsTheField_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("taken");
        QTest::newRow("project file") << QStringList{"/data/my deck.kmx"} << true;
        QTest::newRow("packed file") << QStringList{"/data/deck.0KX"} << true;
        QTest::newRow("second kind") << QStringList{"/data/deck.0rv"} << true;
        QTest::newRow("a volume") << QStringList{"/data/deck.1KX"} << false;
        QTest::newRow("other file") << QStringList{"/data/notes.txt"} << false;
        // Of a set's volumes only the first names a job (several project or packed files are
        // queued: test_window_queue).
        QTest::newRow("a set's volumes") << QStringList{"/data/deck.0KX", "/data/deck.1KX"} << true;
        QTest::newRow("two other files") << QStringList{"/data/a.txt", "/data/b.1KX"} << false;
    }

    void droppedFileFillsTheField()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, taken);
        QLineEdit* field = m_frame->View()->FileNameField();
        field->setText(QStringLiteral("/before.kmx"));
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        QMimeData data;
        data.setUrls(urls);
        // Delivered to the window as the desktop delivers it: on the field, and on the log.
        QWindow* window = m_frame->windowHandle();
        for (QWidget* target :
             {static_cast<QWidget*>(field), static_cast<QWidget*>(m_frame->View()->StatusLog())}) {
            field->setText(QStringLiteral("/before.kmx"));
            const QPoint at = target->mapTo(m_frame.get(), target->rect().center());
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &enter);
            QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &move);
            QCOMPARE(move.isAccepted(), taken);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &drop);
            QCOMPARE(field->text(), taken ? files.first() : QStringLiteral("/before.kmx"));
            QVERIFY(m_frame->View()->StatusLog()->toPlainText().isEmpty());
        }
        QVERIFY(Modal::Shown().empty());
        QCOMPARE(g_nJobState, int(JOB_IDLE));
    }

    // The menu shows the keys; Ctrl+U reaches Unpack also from the field, which would take it
    // to delete its line.
    void commandKeysShownAndWorking()
    {
        QCOMPARE(m_frame->Action(ID_PACK_PROJECT)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
        QCOMPARE(m_frame->Action(ID_UNPACK_PROJECT)->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::Key_U));
        QCOMPARE(m_frame->Action(ID_TEST_PACKED)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
        QCOMPARE(m_frame->Action(ID_APP_EXIT)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(m_frame->Action(ID_HELP_TOPICS)->shortcut(), QKeySequence(Qt::Key_F1));
        auto* menu = m_frame->findChild<QMenu*>(QStringLiteral("menuAction"));
        QVERIFY(menu->actions().contains(m_frame->Action(ID_UNPACK_PROJECT)));
        QVERIFY(menu->actions().contains(m_frame->Action(ID_TEST_PACKED)));

        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QLineEdit* field = m_frame->View()->FileNameField();
        field->setFocus();
        field->setText(QStringLiteral("/data/deck.0KX"));
        QTest::keyClick(field, Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/deck.0KX"));
        QCOMPARE(Modal::Shown().size(), size_t(1));
        QCOMPARE(Modal::Shown()[0].kind, Modal::Record::Dialog);
        QCOMPARE(Modal::Shown()[0].text, QStringLiteral("UnPack Packed File"));
        QTest::keyClick(field, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(Modal::Shown().back().text, QStringLiteral("Pack Project File"));
        QTest::keyClick(field, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(Modal::Shown().back().text, QStringLiteral("Test Packed File"));
    }

    // Every control of the window has a name for assistive technology, and the status bar
    // shows no empty box.
    void controlsHaveNamesAndNoEmptyBoxes()
    {
        for (QWidget* widget : m_frame->findChildren<QWidget*>()) {
            if (!widget->isVisible() ||
                !(widget->focusPolicy() != Qt::NoFocus || qobject_cast<QAbstractButton*>(widget) ||
                  qobject_cast<QProgressBar*>(widget) || qobject_cast<QToolBar*>(widget) ||
                  qobject_cast<QStatusBar*>(widget) ||
                  qobject_cast<QAbstractScrollArea*>(widget))) {
                continue;
            }
            if (qobject_cast<QScrollBar*>(widget) || widget->inherits("QToolBarExtension")) {
                continue;
            }
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible != nullptr);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(),
                     qPrintable(QStringLiteral("%1 (%2) has no name")
                                    .arg(widget->objectName(), widget->metaObject()->className())));
        }
        for (int id : {int(ID_INDICATOR_CAPS), int(ID_INDICATOR_NUM), int(ID_INDICATOR_SCRL)}) {
            auto* box = m_frame->findChild<QLabel*>(QStringLiteral("indicator%1").arg(id));
            QVERIFY(box != nullptr);
            QCOMPARE(box->isVisible(), !box->text().isEmpty());
        }
    }

    // Open only fills the field; Save writes nothing: no user file changes.
    void openAndSaveChangeNoFile()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("a.kmx"));
        {
            QFile file(project);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("project bytes");
        }
        const QString previousFolder = QDir::currentPath();
        QDir::setCurrent(folder.path());
        Modal::SetNextFileName(project);
        QTest::keyClick(m_frame.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_frame->View()->FileNameField()->text(), project);
        QTest::keyClick(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.kmx")});
        QFile file(project);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("project bytes"));
        QDir::setCurrent(previousFolder);
    }

    // Every label shows its whole text and every control lies inside the form, in both
    // languages: this is where a font with other metrics would clip.
    void formFitsItsTexts_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("fileNameLabel");
        QTest::addColumn<QString>("menu");
        QTest::newRow("English") << int(Language::English) << "File Name"
                                 << "&Action";
        QTest::newRow("Japanese") << int(Language::Japanese) << QString::fromUtf8("ﾌｧｲﾙ名")
                                  << QString::fromUtf8("動作(&A)");
    }

    void formFitsItsTexts()
    {
        QFETCH(int, language);
        QFETCH(QString, fileNameLabel);
        QFETCH(QString, menu);
        SetLanguage(static_cast<Language>(language));
        CMainFrame frame;
        SetLanguage(Language::English);

        QCOMPARE(frame.menuBar()->actions().at(0)->text(), menu);
        auto* label = frame.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
        QCOMPARE(label->text(), fileNameLabel);
        if (static_cast<Language>(language) == Language::Japanese) {
            QVERIFY(QFontInfo(label->font()).family().contains(QStringLiteral("CJK")));
        }
        QWidget* form = frame.View()->Control(IDC_FILE_NAME)->parentWidget();
        const QRect area = form->rect();
        for (QWidget* child : form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            QVERIFY2(area.contains(child->geometry()), qPrintable(child->objectName()));
            if (auto* text = qobject_cast<QLabel*>(child)) {
                const QSize needed = text->fontMetrics().size(Qt::TextSingleLine, text->text());
                QVERIFY2(needed.width() <= text->width() && needed.height() <= text->height() + 2,
                         qPrintable(text->objectName() + QStringLiteral(" is clipped")));
            }
        }
        // The field is tall enough for its text.
        QLineEdit* field = frame.View()->FileNameField();
        QVERIFY(field->height() >= field->fontMetrics().height() + 2);
    }
};

QTEST_MAIN(MainFrameTest)
#include "test_mainframe.moc"
