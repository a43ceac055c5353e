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
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <cstdlib>
#include <memory>
#include <thread>

#include "engine/jobcontext.h"
#include "platform/strings.h"
#include "shell/ids.h"
#include "shell/mainframe.h"
#include "shell/modal.h"
#include "shell/qthost.h"
#include "shell/view.h"

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

class MainFrameTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SetLanguage(Language::English);
        Modal::SetScriptedOnly(true);
    }

    void init()
    {
        Modal::Reset();
        m_document = std::make_unique<CZUNPackDoc>();
        m_frame = std::make_unique<CMainFrame>(m_document.get());
        QtMainWindowHost::Instance().Attach(m_frame.get());
        m_frame->View()->OnInitialUpdate();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        m_frame->OnJobState(JOB_IDLE, 0);
    }

    void cleanup()
    {
        m_frame->OnJobState(JOB_IDLE, 0);
        m_frame->OnJobDone(0, 0);
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
        QTest::newRow("decompressing") << int(JOB_DECOMPRESSING) << "Decompressing file..." << false;
        QTest::newRow("joining") << int(JOB_JOINING) << "Joining file..." << false;
        QTest::newRow("unknown state 7") << 7 << "" << false;
    }

    // Posted as the jobs post it; the pane, the menu items and the toolbar buttons follow.
    void jobStateDrivesPaneAndCommands()
    {
        QFETCH(int, state);
        QFETCH(QString, pane);
        QFETCH(bool, enabled);
        PostMessageToMainWindow(WM_JOBSTATE, WPARAM(JOB_COMPRESSING), 0);
        PostMessageToMainWindow(WM_JOBSTATE, WPARAM(state), 0);
        QTRY_COMPARE(g_nJobState, state);
        QCOMPARE(m_frame->PaneText(), pane);
        for (int id : {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT), int(ID_APP_EXIT)}) {
            QCOMPARE(IsEnabledEverywhere(*m_frame, id), enabled);
        }
        // Help and About stay available during a job.
        QVERIFY(m_frame->Action(ID_HELP_TOPICS)->isEnabled());
        QVERIFY(m_frame->Action(ID_APP_ABOUT)->isEnabled());

        // Back to idle: everything is available again.
        PostMessageToMainWindow(WM_JOBSTATE, WPARAM(JOB_IDLE), 0);
        QTRY_COMPARE(g_nJobState, int(JOB_IDLE));
        QCOMPARE(m_frame->PaneText(), QStringLiteral("Ready"));
        QVERIFY(IsEnabledEverywhere(*m_frame, ID_APP_EXIT));
    }

    void closeRefusedDuringJob()
    {
        m_frame->OnJobState(7, 0);
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
            QCOMPARE(box.text,
                     QStringLiteral("Please wait for background processing to end before exiting"));
            QCOMPARE(box.type, unsigned(MB_OK | MB_ICONEXCLAMATION));
            QCOMPARE(box.owner, m_frame.get());
        }

        m_frame->OnJobState(JOB_IDLE, 0);
        Modal::Reset();
        m_frame->OnAppExit();
        QTRY_VERIFY(!m_frame->isVisible());
        QVERIFY(Modal::Shown().empty());
    }

    void waitCursorFollowsBusyAndDone()
    {
        // Done without busy: nothing to end.
        QCOMPARE(m_frame->OnJobDone(0, 0), LRESULT(1));
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        QCOMPARE(SendMessageToMainWindow(WM_JOBBUSY, 0, 0), LRESULT(1));
        QCOMPARE(SendMessageToMainWindow(WM_JOBBUSY, 0, 0), LRESULT(1));
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(m_frame->IsWaitCursorShown());

        // One cursor for both busy messages: one done ends it.
        QCOMPARE(SendMessageToMainWindow(WM_JOBDONE, 0, 0), LRESULT(1));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(!m_frame->IsWaitCursorShown());
    }

    // A worker's sends wait for the GUI thread and arrive in order; its posts do not wait; a
    // box it asks for is owned by the main window and answered before the worker goes on.
    void workerReachesWindowInOrder()
    {
        m_frame->View()->ClearLog();
        int boxAnswer = 0;
        LRESULT busyAnswer = 0;
        std::thread worker([&] {
            PostMessageToMainWindow(WM_JOBSTATE, JOB_COMPRESSING, 0);
            for (int i = 0; i < 20; ++i) {
                AppendStatus("line " + std::to_string(i) + "\r\n");
                SetProgress(i * 5);
            }
            busyAnswer = SendMessageToMainWindow(WM_JOBBUSY, 0, 0);
            Modal::SetNextAnswer(IDOK); // read by the GUI thread when the box comes up
            boxAnswer = ShowMessageBoxOwnedByMain("Overwrite?", MB_OKCANCEL | MB_ICONEXCLAMATION);
            SendMessageToMainWindow(WM_JOBDONE, 0, 0);
            PostMessageToMainWindow(WM_JOBSTATE, JOB_IDLE, 0);
        });
        // The GUI thread keeps its event loop running while the worker waits on it.
        QTRY_VERIFY_WITH_TIMEOUT(Modal::Shown().size() == 1, 10000);
        worker.join();
        QCoreApplication::processEvents();

        QString expected;
        for (int i = 0; i < 20; ++i) {
            expected += QStringLiteral("line %1\n").arg(i);
        }
        QCOMPARE(m_frame->View()->StatusLog()->toPlainText(), expected);
        QCOMPARE(m_frame->View()->Progress()->value(), 95);
        QCOMPARE(busyAnswer, LRESULT(1));
        QCOMPARE(boxAnswer, int(IDOK));
        QCOMPARE(Modal::Shown()[0].owner, m_frame.get());
        QCOMPARE(Modal::Shown()[0].text, QStringLiteral("Overwrite?"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QTRY_COMPARE(g_nJobState, int(JOB_IDLE));
    }

    void findFileAsksForTheMissingVolume()
    {
        QTemporaryDir folder;
        const QString chosen = folder.filePath(QStringLiteral("moved/SET.1KX"));
        const QString jobFolder = QDir::currentPath();
        Modal::SetNextFileName(chosen);
        Modal::SetNextFileName(QString()); // the second time the user cancels

        FindVolumeRequest request{"1KX", "SET"};
        LRESULT answers[2] = {};
        std::thread worker([&] {
            for (LRESULT& answer : answers) {
                answer = SendMessageToMainWindow(WM_FINDFILE, 0, reinterpret_cast<LPARAM>(&request));
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(Modal::Shown().size() == 2, 10000);
        worker.join();

        char* path = reinterpret_cast<char*>(answers[0]);
        QVERIFY(path != nullptr);
        QCOMPARE(QString::fromLocal8Bit(path), chosen);
        std::free(path);
        QCOMPARE(answers[1], LRESULT(0));
        // The job's current folder stays where the job put it.
        QCOMPARE(QDir::currentPath(), jobFolder);

        const Modal::Record& chooser = Modal::Shown()[0];
        QCOMPARE(chooser.kind, Modal::Record::Chooser);
        QCOMPARE(chooser.text, QStringLiteral("|SET.1KX")); // current folder, initial name
        QCOMPARE(chooser.filter, QStringLiteral("Packed Files (*.?kx)"));
        QCOMPARE(chooser.owner, m_frame.get());
    }

    void statusLogHandsFocusBack()
    {
        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QPlainTextEdit* log = m_frame->View()->StatusLog();
        QTest::mouseClick(log->viewport(), Qt::LeftButton);
        QVERIFY(QApplication::focusWidget() != log);
        log->setFocus();
        QVERIFY(!log->hasFocus());
        QCOMPARE(QApplication::focusWidget(), m_frame.get());
    }

    // The log's context menu copies and saves the whole log; the log stays read-only.
    void statusLogMenuCopiesAndSaves()
    {
        CZUNPackView* view = m_frame->View();
        view->ClearLog();
        std::unique_ptr<QMenu> emptyMenu(view->CreateLogMenu(nullptr));
        for (QAction* action : emptyMenu->actions())
            QVERIFY(!action->isEnabled());

        view->AppendToLog(QStringLiteral("\r\n ********* Starting *********\r\nOriginal File size = 3 bytes."));
        const QString expected = QStringLiteral("\n ********* Starting *********\nOriginal File size = 3 bytes.");
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
        QCOMPARE(Modal::Shown().back().text, QStringLiteral("Unable to save the log to '%1'.").arg(nowhere));
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
        QTest::newRow("Exit") << int(ID_APP_EXIT) << "Quit the application" << "Exit";
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

    void toolbarHasThreeDrawnButtons()
    {
        auto* toolBar = m_frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
        const QList<QAction*> actions = toolBar->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0], m_frame->Action(ID_PACK_PROJECT));
        QCOMPARE(actions[1], m_frame->Action(ID_UNPACK_PROJECT));
        QCOMPARE(actions[2], m_frame->Action(ID_APP_EXIT));
        QImage previous;
        for (QAction* action : actions) {
            const QImage image = action->icon().pixmap(QSize(16, 15)).toImage();
            QCOMPARE(image.size(), QSize(16, 15));
            QVERIFY(image != previous);
            previous = image;
        }
        QVERIFY(!toolBar->isMovable());
        QVERIFY(!toolBar->isFloatable());
    }

    void newPlacesFrameAgain()
    {
        const QRect screen = m_frame->screen()->geometry();
        const QSize size = m_frame->size();
        m_frame->move(screen.topLeft() + QPoint(3, 5));
        QTest::keyClick(m_frame.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(m_frame->pos(), screen.topLeft() + QPoint(screen.width() / 4, screen.height() / 4));
        QCOMPARE(m_frame->size(), size);
        // Fixed in size, and large enough to show the whole form.
        QCOMPARE(m_frame->minimumSize(), m_frame->maximumSize());
        CZUNPackView* view = m_frame->View();
        QVERIFY(m_frame->rect().contains(QRect(view->mapTo(m_frame.get(), QPoint(0, 0)), view->size())));
        QCOMPARE(view->FormSize(), QSize(view->Control(IDC_FILE_NAME)->parentWidget()->size()));
    }

    void frameKeysDoNothingInTheField()
    {
        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QLineEdit* field = m_frame->View()->FileNameField();
        field->setFocus();
        field->setText(QStringLiteral("/data/a.kmx"));
        field->selectAll();
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx"));
        field->end(false);
        QTest::keyClicks(field, QStringLiteral("x"));
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace, Qt::AltModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmxx"));
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
        QTest::newRow("English") << int(Language::English) << "File Name" << "&Action";
        QTest::newRow("Japanese") << int(Language::Japanese) << QString::fromUtf8("ﾌｧｲﾙ名")
                                  << QString::fromUtf8("動作(&A)");
    }

    void formFitsItsTexts()
    {
        QFETCH(int, language);
        QFETCH(QString, fileNameLabel);
        QFETCH(QString, menu);
        SetLanguage(static_cast<Language>(language));
        CZUNPackDoc document;
        CMainFrame frame(&document);
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

private:
    std::unique_ptr<CZUNPackDoc> m_document;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(MainFrameTest)
#include "test_mainframe.moc"
