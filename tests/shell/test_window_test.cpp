// The window's Test: whether a packed file or set is sound, said in the log, restoring
// nothing.
#include "tests/shell/windowfixture.h"

class WindowTestCommandTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // Test says whether a packed file or set is sound, as the console's test does, and writes
    // nothing; a missing volume is asked for, and a chosen file that is already one of the set
    // is refused with the reason before the right one is taken.
    void testSaysWhetherSound_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("single packed file") << "" << true << "%1: sound. The stream is complete";
        QTest::newRow("set with its manifest")
            << "manifest" << true << "%1: sound. A set of %2 volumes";
        QTest::newRow("set, a volume moved away")
            << "move" << true << "%1: sound. A set of %2 volumes";
        QTest::newRow("set, a volume changed behind its manifest")
            << "changed" << false << "' does not match its checksum in '";
        QTest::newRow("cut short")
            << "cut" << false << "%1: damaged. The stream ends before its end code";
        QTest::newRow("no packed file") << "garbage" << false << "%1: damaged or no packed file";
    }

    void testSaysWhetherSound()
    {
        QFETCH(QString, change);
        QFETCH(bool, sound);
        QFETCH(QString, verdict);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QString packed = folder.filePath(QStringLiteral("deck.0KX"));
        const bool set = change == QStringLiteral("manifest") || change == QStringLiteral("move") ||
                         change == QStringLiteral("changed");
        const QByteArray bytes = ProjectBytes(300000);
        WriteFile(project, bytes);
        QVERIFY(startPack(project, set, 25000) == 1);
        QVERIFY(WaitForJobEnd());
        if (change == QStringLiteral("manifest") || change == QStringLiteral("changed")) {
            QVERIFY(WriteSetManifest(
                packed.toStdString(), "deck.kmx",
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString()));
        }
        const QString moved = folder.filePath(QStringLiteral("moved/deck.2KX"));
        if (change == QStringLiteral("move")) {
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("moved")));
            QVERIFY(QFile::rename(folder.filePath(QStringLiteral("deck.2KX")), moved));
            Modal::Reset();
            Modal::SetNextAnswer(IDOK); // find it yourself?
            Modal::SetNextFileName(folder.filePath(QStringLiteral("deck.1KX"))); // one of the set
            Modal::SetNextAnswer(IDOK);                                          // the reason, read
            Modal::SetNextFileName(moved);
        } else {
            Modal::Reset();
        }
        if (change == QStringLiteral("changed")) {
            QByteArray volume = ReadFile(folder.filePath(QStringLiteral("deck.1KX")));
            volume[volume.size() / 2] = char(volume[volume.size() / 2] ^ 0x01);
            WriteFile(folder.filePath(QStringLiteral("deck.1KX")), volume);
        } else if (change == QStringLiteral("cut")) {
            WriteFile(packed, ReadFile(packed).left(20000));
        } else if (change == QStringLiteral("garbage")) {
            WriteFile(packed, QByteArray(3000, '\x5a'));
        }
        const QMap<QString, QByteArray> before = FolderContents(folder.path());

        m_frame->View()->FileNameField()->setText(project);
        runCommand(ID_TEST_PACKED, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const QString log = LogText(*m_frame);
        QVERIFY2(log.startsWith(Catalogue(IDS_TEST_START)), qPrintable(log));
        const qsizetype volumes =
            QDir(folder.path()).entryList({QStringLiteral("deck.?KX")}, QDir::Files).size() +
            (change == QStringLiteral("move") ? 1 : 0);
        QVERIFY(!set || volumes >= 4);
        QString expected = verdict;
        expected.replace(QStringLiteral("%1"), packed)
            .replace(QStringLiteral("%2"), QString::number(volumes));
        QVERIFY2(log.contains(expected), qPrintable(log));
        QVERIFY2(log.endsWith(Catalogue(sound ? IDS_TEST_SOUND_END : IDS_TEST_NOT_SOUND_END)),
                 qPrintable(log));
        QCOMPARE(FolderContents(folder.path()), before);
        QCOMPARE(m_frame->View()->FileNameField()->text(), packed);
        if (change == QStringLiteral("manifest")) {
            QVERIFY2(log.contains(
                         QStringLiteral("files of the set and the restored project file match")),
                     qPrintable(log));
        }
        if (change == QStringLiteral("move")) {
            // Two choosers, the refusal between them, in the window's folder of the set.
            std::vector<Modal::Record> choosers;
            for (const Modal::Record& record : Modal::Shown()) {
                if (record.kind == Modal::Record::Chooser) {
                    choosers.push_back(record);
                }
            }
            QCOMPARE(choosers.size(), size_t(2));
            QCOMPARE(choosers[0].text, folder.path() + QStringLiteral("|deck.2KX"));
            const Modal::Record& refusal = Modal::Shown()[Modal::Shown().size() - 2];
            QCOMPARE(refusal.kind, Modal::Record::Box);
            QVERIFY2(refusal.text.contains(folder.filePath(QStringLiteral("deck.1KX"))),
                     qPrintable(refusal.text));
        }
    }
};

QTEST_MAIN(WindowTestCommandTest)
#include "test_window_test.moc"
