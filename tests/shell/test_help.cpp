// Help: the viewer opened from the window and the dialogs, its navigation, a missing
// document, and where the program looks for the documents.
#include "tests/shell/windowfixture.h"

class HelpTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // F1 and the menu open the help of the texts' language from the program's folder, at its
    // contents, also when the current folder is elsewhere; a dialog asking for help stays open.
    void helpOpensAtContents_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("English") << int(Language::English) << "enzunpak.hlp"
                                 << "Pack Tool Help";
        QTest::newRow("Japanese") << int(Language::Japanese) << "jpzunpak.hlp"
                                  << QString::fromUtf8("圧縮ﾂｰﾙ ﾍﾙﾌﾟ");
    }

    void helpOpensAtContents()
    {
        QFETCH(int, language);
        QFETCH(QString, file);
        QFETCH(QString, title);
        SetLanguage(static_cast<Language>(language));
        QDir::setCurrent(m_folder.path());
        const QString expectedPath =
            QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;

        auto checkViewer = [&](QWidget* owner) {
            CHelpViewer* viewer = CHelpViewer::Of(owner);
            QVERIFY(viewer != nullptr);
            QVERIFY(viewer->isVisible());
            QCOMPARE(viewer->Path(), expectedPath);
            QVERIFY(viewer->HasDocument());
            QCOMPARE(viewer->windowTitle(), title);
            // At the contents: the document's first lines are the ones in view.
            QTextBrowser* browser = viewer->Browser();
            QCOMPARE(browser->cursorForPosition(QPoint(4, 4)).block().text(), title);
            viewer->close();
        };

        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(m_frame.get(), Qt::Key_F1);
        checkViewer(m_frame.get());
        m_frame->Action(ID_HELP_TOPICS)->trigger();
        checkViewer(m_frame.get());

        for (int command : {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT)}) {
            bool stayedOpen = false;
            runCommand(command, [&](QDialog& dialog) {
                QTest::keyClick(&dialog, Qt::Key_F1);
                checkViewer(&dialog);
                stayedOpen = dialog.isVisible();
                dialog.reject();
                return dialog.result();
            });
            QVERIFY(stayedOpen);
        }
    }

    // The viewer goes Back and Forward through the topics read, back to its Contents, and
    // closes with Close and with Escape.
    void helpViewerNavigatesAndCloses()
    {
        QApplication::setActiveWindow(m_frame.get());
        m_frame->Action(ID_HELP_TOPICS)->trigger();
        CHelpViewer* viewer = CHelpViewer::Of(m_frame.get());
        QVERIFY(viewer != nullptr && viewer->HasDocument());
        QTextBrowser* browser = viewer->Browser();
        auto button = [&](const char* name) {
            return viewer->findChild<QPushButton*>(QLatin1String(name));
        };
        auto topLine = [&] { return browser->cursorForPosition(QPoint(4, 4)).block().text(); };
        QVERIFY(!button("helpBack")->isEnabled());
        QVERIFY(!button("helpForward")->isEnabled());
        const QString contentsLine = topLine();

        QUrl topic = browser->source();
        topic.setFragment(QStringLiteral("unpack"));
        browser->setSource(topic); // as a click on the contents' link does
        QCoreApplication::processEvents();
        const QString topicLine = topLine();
        QVERIFY(topicLine != contentsLine);
        QVERIFY(button("helpBack")->isEnabled());
        QTest::mouseClick(button("helpBack"), Qt::LeftButton);
        QCOMPARE(topLine(), contentsLine);
        QVERIFY(button("helpForward")->isEnabled());
        QTest::mouseClick(button("helpForward"), Qt::LeftButton);
        QCOMPARE(topLine(), topicLine);
        QTest::mouseClick(button("helpContents"), Qt::LeftButton);
        QCOMPARE(topLine(), contentsLine);

        QTest::mouseClick(button("helpClose"), Qt::LeftButton);
        QVERIFY(!viewer->isVisible());
        m_frame->Action(ID_HELP_TOPICS)->trigger();
        QVERIFY(viewer->isVisible());
        QApplication::setActiveWindow(viewer);
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        QTest::keyClick(browser, Qt::Key_Escape);
        QVERIFY(!viewer->isVisible());
        // The menu shows F1 beside Help Topics.
        QCOMPARE(m_frame->Action(ID_HELP_TOPICS)->shortcut(), QKeySequence(Qt::Key_F1));
    }

    // The Japanese help reads without blanks where its source lines break: no line break of
    // the document stands between Japanese text and more of it.
    void japaneseHelpHasNoBlanksAtLineBreaks()
    {
        QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/jpzunpak.hlp"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        bool inPre = false;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QString& before = lines[i - 1];
            const QString& after = lines[i];
            inPre = (inPre || before.contains(QStringLiteral("<pre"))) &&
                    !before.contains(QStringLiteral("</pre>"));
            if (inPre || before.isEmpty() || after.isEmpty()) {
                continue;
            }
            const bool japaneseBefore = before.back().unicode() >= 0x3000;
            const bool textAfter = after.front().unicode() >= 0x3000 ||
                                   after.startsWith(QStringLiteral("<b>")) ||
                                   after.startsWith(QStringLiteral("<code>"));
            const bool inlineBefore = before.endsWith(QStringLiteral("</b>")) ||
                                      before.endsWith(QStringLiteral("</code>")) ||
                                      before.endsWith(QLatin1Char(')'));
            QVERIFY2(!((japaneseBefore && textAfter) ||
                       (inlineBefore && after.front().unicode() >= 0x3000)),
                     qPrintable(QStringLiteral("line %1: ").arg(i) + before.right(20) +
                                QStringLiteral(" | ") + after.left(20)));
        }
    }

    // Installed, the documents are in share/packtool; in a build folder, beside the program.
    void programFolderFollowsTheLayout()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/share/packtool")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("opt/bin")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("build/shell")));
        QCOMPARE(ProgramFolderFor(root.filePath(QStringLiteral("usr/bin"))),
                 root.filePath(QStringLiteral("usr/share/packtool/")));
        QCOMPARE(ProgramFolderFor(root.filePath(QStringLiteral("opt/bin"))),
                 root.filePath(QStringLiteral("opt/bin/")));
        QCOMPARE(ProgramFolderFor(root.filePath(QStringLiteral("build/shell"))),
                 root.filePath(QStringLiteral("build/shell/")));
    }

    void missingHelpDocumentIsReportedByTheViewer()
    {
        CHelpViewer viewer(m_frame.get());
        viewer.OpenContents(m_folder.filePath(QStringLiteral("enzunpak.hlp")));
        QVERIFY(!viewer.HasDocument());
        QVERIFY(viewer.Browser()->toPlainText().contains(QStringLiteral("could not be opened")));
        QVERIFY(viewer.Browser()->toPlainText().contains(
            m_folder.filePath(QStringLiteral("enzunpak.hlp"))));
    }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"
