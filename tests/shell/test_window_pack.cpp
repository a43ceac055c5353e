// The window's Pack from the dialog to the log's last line: the split remembered, and the
// checksums written beside the set or a user's own file of that name left alone.
#include "tests/shell/windowfixture.h"

class WindowPackTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // The split choice of the last OK is where the next Pack dialog starts.
    void packDialogRemembersTheSplit()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(5000));
        m_frame->View()->FileNameField()->setText(project);
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            dialog.DiskSizeList()->setCurrentIndex(3);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        bool separate = false;
        int index = -1;
        bool listEnabled = false;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            separate = dialog.SeparateFileBox()->isChecked();
            index = dialog.DiskSizeList()->currentIndex();
            listEnabled = dialog.DiskSizeList()->isEnabled();
            dialog.reject();
            return dialog.result();
        });
        QVERIFY(separate);
        QCOMPARE(index, 3);
        QVERIFY(listEnabled);
    }

    // Write checksums puts NAME.sha256 beside the set, in sha256sum's format: the project
    // file's line, then one per volume. The box is remembered; a pack without it leaves none.
    void writeChecksumsBesideTheSet()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QByteArray bytes = ProjectBytes(1500000);
        WriteFile(project, bytes);
        m_frame->View()->FileNameField()->setText(project);
        QList<bool> boxShown;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            boxShown << dialog.WriteChecksumsBox()->isChecked();
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            SelectDiskSize(dialog, QStringLiteral("360K"));
            QTest::mouseClick(dialog.WriteChecksumsBox(), Qt::LeftButton);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        const QString manifest = folder.filePath(QStringLiteral("deck.sha256"));
        QStringList expected{
            QString::fromLatin1(
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()) +
            QStringLiteral("  deck.kmx")};
        const QStringList volumes =
            QDir(folder.path()).entryList({QStringLiteral("deck.?KX")}, QDir::Files, QDir::Name);
        QVERIFY(volumes.size() >= 2);
        for (const QString& volume : volumes) {
            const QByteArray data = ReadFile(folder.filePath(volume));
            expected << QString::fromLatin1(
                            QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()) +
                            QStringLiteral("  ") + volume;
        }
        const QStringList lines =
            QString::fromLatin1(ReadFile(manifest)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines, expected);
        // As in the console: the closing line, then the line about the checksums.
        const QString written = QStringLiteral("Checksums written to '%1'.").arg(manifest);
        QVERIFY2(LogText(*m_frame).contains(Catalogue(IDS_PACK_END) + written),
                 qPrintable(LogText(*m_frame)));

        // Remembered; cleared, the next pack writes none and removes the old one.
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            boxShown << dialog.WriteChecksumsBox()->isChecked();
            QTest::mouseClick(dialog.WriteChecksumsBox(), Qt::LeftButton);
            for (int question = 0; question < 4; ++question)
                Modal::SetNextAnswer(IDOK); // overwrite the packed file and the set
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QCOMPARE(boxShown, (QList<bool>{false, true}));
        QVERIFY2(LogText(*m_frame).endsWith(Catalogue(IDS_PACK_END)),
                 qPrintable(LogText(*m_frame)));
        QVERIFY(!QFile::exists(manifest));
        QVERIFY(!LogText(*m_frame).contains(QStringLiteral("Checksums written")));
    }

    // A NAME.sha256 that the program did not write (a note of the user's) is never replaced nor
    // removed by Write checksums: it stays byte for byte, the log says why no checksums were
    // written, and the pack itself is complete.
    void writeChecksumsLeavesTheUsersOwnFile()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("note.kmx"));
        WriteFile(project, ProjectBytes(20000));
        const QString manifest = folder.filePath(QStringLiteral("note.sha256"));
        // In sha256sum's format, for files of the user's own: not a manifest of ours.
        const QByteArray usersNote(QByteArray(64, 'a') + "  holiday.txt\n");
        WriteFile(manifest, usersNote);
        m_frame->View()->FileNameField()->setText(project);
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QTest::mouseClick(dialog.WriteChecksumsBox(), Qt::LeftButton);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QCOMPARE(ReadFile(manifest), usersNote);
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("note.0KX"))));
        const QString log = LogText(*m_frame);
        QVERIFY2(
            log.contains(QString::fromStdString(FormatText(
                LoadString(IDS_MANIFEST_FOREIGN_IGNORED).c_str(), manifest.toStdString().c_str()))),
            qPrintable(log));
        const qsizetype end = log.indexOf(Catalogue(IDS_PACK_END));
        QVERIFY2(end >= 0 &&
                     log.indexOf(QStringLiteral("The checksums could not be written to '%1'.")
                                     .arg(manifest)) > end,
                 qPrintable(log));
        QVERIFY(!log.contains(Catalogue(IDS_PACK_NOT_COMPLETE)));
    }

    // Packing over an older set asks once: the question about the packed file offers Yes to
    // all, and that answer replaces every volume of the set without another box.
    void packOverAnOlderSetAsksOnce()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(1500000));
        QVERIFY(startPack(project, true, 360000) == 1);
        QVERIFY(WaitForJobEnd());
        const QStringList older =
            QDir(folder.path()).entryList({QStringLiteral("deck.?KX")}, QDir::Files);
        QVERIFY(older.size() >= 2);
        const QByteArray bytes = ProjectBytes(1600000);
        WriteFile(project, bytes);

        m_frame->View()->FileNameField()->setText(project);
        Modal::Reset();
        Modal::SetNextAnswer(IDYESTOALL);
        runCommand(ID_PACK_PROJECT, [](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            SelectDiskSize(dialog, QStringLiteral("360K"));
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const std::vector<Modal::Record>& shown = Modal::Shown();
        QCOMPARE(shown.size(), size_t(2)); // the dialog and one question
        QVERIFY(shown[1].text.startsWith(
            Catalogue(IDS_OVERWRITE_QUESTION)
                .replace(QStringLiteral("%s"), folder.filePath(QStringLiteral("deck.0KX")))));
        QCOMPARE(shown[1].type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION | MB_YESTOALL));
        QVERIFY2(LogText(*m_frame).endsWith(Catalogue(IDS_PACK_END)),
                 qPrintable(LogText(*m_frame)));
    }
};

QTEST_MAIN(WindowPackTest)
#include "test_window_pack.moc"
