// The window's recovery files: a split pack with Recovery disks writes them beside the set, and
// a Test that finds a volume lost offers the Unpack that rebuilds it and restores the project.
// Both need Debian's par2; without it they are skipped and say so.
#include <QRegularExpression>

#include "tests/shell/windowfixture.h"

namespace {

const int kVolumeSize = 360000; // the 360K disk

QString Par2Program()
{
    return QStandardPaths::findExecutable(QStringLiteral("par2"));
}

// The recovery files of deck's set in folder: deck.par2 and deck.volXX+YY.par2.
QStringList RecoveryFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("deck*.par2")}, QDir::Files, QDir::Name);
}

// Anything but the files a user sees: a work folder or half-written file left behind.
QStringList Leftovers(const QString& folder)
{
    QStringList left;
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const bool known =
            entry == QLatin1String("deck.kmx") || entry.endsWith(QLatin1String(".par2")) ||
            QRegularExpression(QStringLiteral("^deck\\.[0-9]KX$")).match(entry).hasMatch();
        if (!known) {
            left << entry;
        }
    }
    return left;
}

} // namespace

class WindowRecoveryTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init()
    {
        if (Par2Program().isEmpty()) {
            QSKIP("par2 is not installed (scripts/install-deps.sh installs it): the recovery files "
                  "cannot be made or used");
        }
        SetUpWindow();
    }
    void cleanup()
    {
        if (m_frame) {
            TearDownWindow();
        }
    }

    // Recovery disks 1 with a split: deck.par2 and the files with the recovery data lie beside
    // the set, none larger than a disk, and the log names them; no work folder is left.
    void splitPackWritesRecoveryFiles()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(3000000));
        m_frame->View()->FileNameField()->setText(project);
        int choices = 0;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            SelectDiskSize(dialog, QStringLiteral("360K"));
            choices = dialog.RecoveryDisksList()->count();
            dialog.RecoveryDisksList()->setCurrentIndex(1);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        QCOMPARE(choices, 3);
        const QString log = LogText(*m_frame);
        QVERIFY2(log.contains(Catalogue(IDS_PACK_END)), qPrintable(log));

        const QStringList volumes =
            QDir(folder.path()).entryList({QStringLiteral("deck.?KX")}, QDir::Files);
        QVERIFY2(volumes.size() >= 2, qPrintable(volumes.join(' ')));
        const QStringList recovery = RecoveryFiles(folder.path());
        QVERIFY2(recovery.contains(QStringLiteral("deck.par2")), qPrintable(recovery.join(' ')));
        QVERIFY2(recovery.size() >= 2, qPrintable(recovery.join(' ')));
        for (const QString& name : recovery) {
            QVERIFY2(name == QLatin1String("deck.par2") ||
                         QRegularExpression(QStringLiteral("^deck\\.vol[0-9]+\\+[0-9]+\\.par2$"))
                             .match(name)
                             .hasMatch(),
                     qPrintable(name));
            QVERIFY2(QFileInfo(folder.filePath(name)).size() <= kVolumeSize, qPrintable(name));
            QVERIFY2(log.contains(folder.filePath(name)), qPrintable(log));
        }
        QVERIFY2(log.contains(Catalogue(IDS_RECOVERY_START)), qPrintable(log));
        QVERIFY2(Leftovers(folder.path()).isEmpty(),
                 qPrintable(Leftovers(folder.path()).join(' ')));
        // The choice is remembered with the split.
        int remembered = -1;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            remembered = dialog.RecoveryDisksList()->currentIndex();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(remembered, 1);
    }

    // A volume lost from a set with recovery files: Test says it is repairable and offers the
    // unpack; answered OK, the Unpack dialog and the question before the rebuild follow, and the
    // project file comes back byte for byte while the set's own files stay as they were.
    void testOffersTheRebuildAndUnpackRestores()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QString packed = folder.filePath(QStringLiteral("deck.0KX"));
        const QByteArray bytes = ProjectBytes(3000000);
        WriteFile(project, bytes);
        PackRequest request;
        request.projectPath = project.toStdString();
        request.split = true;
        request.volumeSize = kVolumeSize;
        request.recovery.volumes = 1;
        QCOMPARE(StartPackJob(request, m_setupPack), 1);
        QVERIFY(WaitForJobEnd());
        QVERIFY(m_setupPack.recoveryWritten);
        QVERIFY(QFile::remove(folder.filePath(QStringLiteral("deck.1KX"))));
        QVERIFY(QFile::remove(project));
        const QMap<QString, QByteArray> before = FolderContents(folder.path());

        Modal::Reset();
        m_frame->View()->FileNameField()->setText(packed);
        runCommand(ID_TEST_PACKED, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        // Answered before the window handles a further event: the test's job asks nothing.
        Modal::SetNextAnswer(IDOK);               // the offer to unpack and rebuild
        Modal::SetNextModal([](QDialog& dialog) { // the Unpack dialog, on the set's first volume
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        Modal::SetNextAnswer(IDOK); // the question before the rebuild
        QVERIFY(WaitForJobEnd(m_frame.get()));
        // The offer comes once the test has ended, and the unpack it starts asks before the
        // rebuild: three boxes and dialogs in all, then that unpack runs to its end.
        QTRY_VERIFY_WITH_TIMEOUT(Modal::Shown().size() >= 3, 60000);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const QString verdict = QString::fromStdString(FormatText(
            LoadString(IDS_RECOVERY_REPAIRABLE_ONE).c_str(), packed.toStdString().c_str(), 1L,
            folder.filePath(QStringLiteral("deck.par2")).toStdString().c_str()));

        // What was shown: the Test dialog, the offer naming the verdict, the Unpack dialog, the
        // rebuild question naming the lost volume.
        QStringList shown;
        for (const Modal::Record& record : Modal::Shown()) {
            shown << record.text;
        }
        QVERIFY2(shown.size() == 4, qPrintable(shown.join(QStringLiteral("\n--\n"))));
        QCOMPARE(Modal::Shown()[0].kind, Modal::Record::Dialog);
        QCOMPARE(shown[1], verdict + QStringLiteral("\n\n") + Catalogue(IDS_WINDOW_OFFER_REBUILD));
        QCOMPARE(Modal::Shown()[2].kind, Modal::Record::Dialog);
        QVERIFY2(shown[3].startsWith(QStringLiteral("Volume 1 ('deck.1KX') is missing.")),
                 qPrintable(shown[3]));
        const QString log = LogText(*m_frame);
        // The unpack restores the name the packed file records, in its own letter case.
        QCOMPARE(ReadFile(folder.filePath(QStringLiteral("deck.KMX"))), bytes);
        QVERIFY2(log.contains(QString::fromStdString(FormatText(
                     LoadString(IDS_RECOVERY_REBUILT_VOLUME).c_str(), 1L, "deck.1KX",
                     folder.filePath(QStringLiteral("deck.par2")).toStdString().c_str()))),
                 qPrintable(log));
        // The set is as the user left it (the lost volume still lost), and nothing else is there.
        QMap<QString, QByteArray> after = FolderContents(folder.path());
        after.remove(QStringLiteral("deck.KMX"));
        QCOMPARE(after, before);
    }
};

QTEST_MAIN(WindowRecoveryTest)
#include "test_window_recovery.moc"
