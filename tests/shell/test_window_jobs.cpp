// What every job of the window does alike: a failure, and a cancel, close the log with the
// line that the job did not complete.
#include "tests/shell/windowfixture.h"

class WindowJobsTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // A job that does not complete ends its log with the program's own line instead of the
    // closing banner, and its bar starts from nothing.
    void failedJobSaysSo_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("packedBytes");
        QTest::addColumn<bool>("projectExists");
        QTest::addColumn<unsigned>("lastLine");
        QTest::newRow("Pack, old packed file kept")
            << int(ID_PACK_PROJECT) << QByteArray("old") << true << unsigned(IDS_PACK_NOT_COMPLETE);
        QTest::newRow("Unpack, old project file kept")
            << int(ID_UNPACK_PROJECT) << QByteArray() << true << unsigned(IDS_UNPACK_NOT_COMPLETE);
        QTest::newRow("Unpack, damaged packed file")
            << int(ID_UNPACK_PROJECT) << QByteArray(3000, '\x5a') << false
            << unsigned(IDS_UNPACK_NOT_COMPLETE);
    }

    void failedJobSaysSo()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, packedBytes);
        QFETCH(bool, projectExists);
        QFETCH(unsigned, lastLine);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QString packed = folder.filePath(QStringLiteral("deck.0KX"));
        WriteFile(project, ProjectBytes(20000));
        if (packedBytes.isEmpty()) {
            QVERIFY(startPack(project, false, 1440000) == 1);
            QVERIFY(WaitForJobEnd());
        } else {
            WriteFile(packed, packedBytes);
        }
        const QString restored = folder.filePath(QStringLiteral("deck.KMX"));
        if (projectExists && command == ID_UNPACK_PROJECT) {
            WriteFile(restored, "old project");
        }
        m_frame->View()->FileNameField()->setText(command == ID_PACK_PROJECT ? project : packed);
        m_frame->View()->Progress()->setValue(100);
        Modal::Reset();
        Modal::SetNextAnswer(IDCANCEL); // overwrite? No
        runCommand(command, [&](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const QString log = LogText(*m_frame);
        QVERIFY2(log.endsWith(Catalogue(lastLine)), qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("Complete *")));
        if (projectExists) {
            // Refused at its question: nothing was read, and the bar shows it.
            QCOMPARE(m_frame->View()->Progress()->value(), 0);
            QCOMPARE(ReadFile(command == ID_PACK_PROJECT ? packed : restored),
                     command == ID_PACK_PROJECT ? packedBytes : QByteArray("old project"));
        }
    }

    // Cancel (the button, or Escape) while a job reads and writes ends it as a failure does:
    // every file in the folder as it was, byte for byte, and nothing of the job's left; the
    // log says it was cancelled; the commands come back. The next job starts its bar from
    // nothing, runs to its end and is not cancelled by the old request.
    void cancelEndsTheJobAsAFailureDoes_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("volumeSize"); // the set the folder holds; 0: a single packed file
        QTest::addColumn<bool>("escape");
        QTest::addColumn<unsigned>("lastLine");
        QTest::newRow("Pack over an older packed file, Cancel")
            << int(ID_PACK_PROJECT) << 0 << false << unsigned(IDS_PACK_NOT_COMPLETE);
        QTest::newRow("Pack into a set, Escape")
            << int(ID_PACK_PROJECT) << 360000 << true << unsigned(IDS_PACK_NOT_COMPLETE);
        QTest::newRow("Unpack over an older project file, Escape")
            << int(ID_UNPACK_PROJECT) << 0 << true << unsigned(IDS_UNPACK_NOT_COMPLETE);
        QTest::newRow("Unpack of a set while joining, Cancel")
            << int(ID_UNPACK_PROJECT) << 360000 << false << unsigned(IDS_UNPACK_NOT_COMPLETE);
        QTest::newRow("Test, Cancel")
            << int(ID_TEST_PACKED) << 0 << false << unsigned(IDS_TEST_NOT_SOUND_END);
    }

    void cancelEndsTheJobAsAFailureDoes()
    {
        QFETCH(int, command);
        QFETCH(int, volumeSize);
        QFETCH(bool, escape);
        QFETCH(unsigned, lastLine);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QByteArray bytes = ProjectBytes(3000000);
        WriteFile(project, bytes);
        QVERIFY(startPack(project, volumeSize > 0, volumeSize) == 1);
        QVERIFY(WaitForJobEnd());
        WriteFile(folder.filePath(QStringLiteral("deck.KMX")), "old project");
        const QMap<QString, QByteArray> before = FolderContents(folder.path());
        QVERIFY(before.contains(QStringLiteral("deck.0KX")));

        // Stopped at a tenth of the way: the job waits on the bar while Cancel is pressed.
        QPushButton* cancel = m_frame->View()->CancelButton();
        QProgressBar* progress = m_frame->View()->Progress();
        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        int pressedAt = -1;
        auto connection = connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
            if (pressedAt < 0 && value >= 10) {
                pressedAt = value;
                QVERIFY(cancel->isEnabled());
                if (escape) {
                    // The job's dialog has just closed: the window is the active one again.
                    QApplication::setActiveWindow(m_frame.get());
                    QTest::keyClick(m_frame.get(), Qt::Key_Escape);
                } else {
                    QTest::mouseClick(cancel, Qt::LeftButton);
                }
            }
        });
        m_frame->View()->FileNameField()->setText(
            command == ID_PACK_PROJECT ? project : folder.filePath(QStringLiteral("deck.0KX")));
        Modal::Reset();
        for (int question = 0; question < 8; ++question) {
            Modal::SetNextAnswer(IDOK); // replace the older files
        }
        auto clickOk = [volumeSize](QDialog& dialog) {
            auto* pack = dynamic_cast<CPackProjectDlg*>(&dialog);
            if (pack != nullptr && volumeSize > 0) {
                if (!pack->SeparateFileBox()->isChecked()) {
                    QTest::mouseClick(pack->SeparateFileBox(), Qt::LeftButton);
                }
                SelectDiskSize(*pack, QStringLiteral("360K"));
            }
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        };
        runCommand(command, clickOk);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);

        QVERIFY(pressedAt >= 10);
        const QString log = LogText(*m_frame);
        QVERIFY2(log.contains(Catalogue(IDS_JOB_CANCELLED)), qPrintable(log));
        QVERIFY2(log.endsWith(Catalogue(lastLine)), qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("Complete *")));
        QCOMPARE(FolderContents(folder.path()), before);
        QVERIFY(!cancel->isEnabled());
        for (int id : {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT), int(ID_TEST_PACKED),
                       int(ID_APP_EXIT)}) {
            QVERIFY(m_frame->Action(id)->isEnabled());
        }
        QVERIFY(!m_frame->IsWaitCursorShown());
        // A cancelled job leaves no part-filled bar behind.
        QCOMPARE(progress->value(), 0);

        // The same command again: from an empty bar to its end, whatever the bar showed before.
        progress->setValue(37);
        QList<int> percents;
        connection = connect(progress, &QProgressBar::valueChanged, this,
                             [&](int value) { percents << value; });
        runCommand(command, clickOk);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);
        QVERIFY(!percents.isEmpty());
        QCOMPARE(percents.first(), 0);
        QCOMPARE(percents.last(), 100);
        QVERIFY2(!LogText(*m_frame).contains(Catalogue(IDS_JOB_CANCELLED)),
                 qPrintable(LogText(*m_frame)));
        if (command == ID_UNPACK_PROJECT) {
            QCOMPARE(ReadFile(folder.filePath(QStringLiteral("deck.KMX"))), bytes);
        }
    }

    // Closing the window while a job reads and writes offers to stop the job and quit. Stop and
    // Quit ends the job as Cancel does (nothing of it left in the folder) and then closes the
    // window; Keep Working lets the job run to its end with the window open.
    void closingDuringAJobOffersToStopIt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Stop and Quit") << int(IDOK);
        QTest::newRow("Keep Working") << int(IDCANCEL);
    }

    void closingDuringAJobOffersToStopIt()
    {
        QFETCH(int, answer);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(3000000));
        const QMap<QString, QByteArray> before = FolderContents(folder.path());
        QProgressBar* progress = m_frame->View()->Progress();
        bool refused = false;
        auto connection = connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
            if (value >= 10 && Modal::Shown().size() == 1) {
                Modal::SetNextAnswer(answer);
                refused = !m_frame->close();
            }
        });
        m_frame->View()->FileNameField()->setText(project);
        runCommand(ID_PACK_PROJECT, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);
        QVERIFY(refused); // the close itself waits for the job
        QCOMPARE(Modal::Shown().size(), size_t(2));
        QCOMPARE(Modal::Shown()[1].type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION));
        const QString log = LogText(*m_frame);
        if (answer == IDOK) {
            QVERIFY2(log.contains(Catalogue(IDS_JOB_CANCELLED)), qPrintable(log));
            QVERIFY2(log.endsWith(Catalogue(IDS_PACK_NOT_COMPLETE)), qPrintable(log));
            QCOMPARE(FolderContents(folder.path()), before);
            QTRY_VERIFY(!m_frame->isVisible());
        } else {
            QVERIFY2(log.endsWith(Catalogue(IDS_PACK_END)), qPrintable(log));
            QVERIFY(QFile::exists(folder.filePath(QStringLiteral("deck.0KX"))));
            QTest::qWait(100);
            QVERIFY(m_frame->isVisible());
        }
    }
};

QTEST_MAIN(WindowJobsTest)
#include "test_window_jobs.moc"
