// The window's Unpack from the dialog to the log's last line: the field's file restored, a
// volume asked for where it was moved, and the manifest checked.
#include "tests/shell/windowfixture.h"

class WindowUnpackTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // Two folders with a project of the same name: the file named in the field is the one
    // restored, from wherever the program runs, and the other folder is never touched.
    void unpackRestoresTheFieldsFile()
    {
        QTemporaryDir a, b, elsewhere;
        const QByteArray bytesA = ProjectBytes(30000), bytesB = ProjectBytes(50000);
        WriteFile(a.filePath(QStringLiteral("proj.kmx")), bytesA);
        WriteFile(b.filePath(QStringLiteral("proj.kmx")), bytesB);
        QDir::setCurrent(elsewhere.path());

        // Pack B through the window: Unpack then proposes B's packed file.
        m_frame->View()->FileNameField()->setText(b.filePath(QStringLiteral("proj.kmx")));
        runCommand(ID_PACK_PROJECT, [&](QDialog& dialog) {
            QTest::mouseClick(static_cast<CPackProjectDlg&>(dialog).OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QVERIFY(QFile::remove(b.filePath(QStringLiteral("proj.kmx"))));
        m_frame->View()->FileNameField()->setText(a.filePath(QStringLiteral("proj.kmx")));
        runCommand(ID_PACK_PROJECT, [&](QDialog& dialog) {
            QTest::mouseClick(static_cast<CPackProjectDlg&>(dialog).OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());

        // Unpack A first (over its project file, asked and confirmed), then B.
        QString proposed;
        auto acceptProposal = [&](QDialog& dialog) {
            proposed = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))->text();
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        };
        Modal::Reset();
        Modal::SetNextAnswer(IDOK);
        runCommand(ID_UNPACK_PROJECT, acceptProposal);
        QVERIFY(WaitForJobEnd());
        QCOMPARE(proposed, a.filePath(QStringLiteral("proj.0KX")));
        QCOMPARE(ReadFile(a.filePath(QStringLiteral("proj.KMX"))), bytesA);
        const QDateTime aWritten = QFileInfo(a.filePath(QStringLiteral("proj.KMX"))).lastModified();

        Modal::Reset();
        QDir::setCurrent(elsewhere.path());
        m_frame->View()->FileNameField()->setText(b.filePath(QStringLiteral("proj.0KX")));
        runCommand(ID_UNPACK_PROJECT, acceptProposal);
        QVERIFY(WaitForJobEnd());
        QCOMPARE(proposed, b.filePath(QStringLiteral("proj.0KX")));
        // No question: B has no project file to overwrite.
        QCOMPARE(Modal::Shown().size(), size_t(1));
        QCOMPARE(ReadFile(b.filePath(QStringLiteral("proj.KMX"))), bytesB);
        QCOMPARE(QFileInfo(a.filePath(QStringLiteral("proj.KMX"))).lastModified(), aWritten);
        QCOMPARE(ReadFile(a.filePath(QStringLiteral("proj.KMX"))), bytesA);
        QVERIFY(LogText(*m_frame).endsWith(Catalogue(IDS_UNPACK_END)));
        QCOMPARE(m_frame->View()->FileNameField()->text(), b.filePath(QStringLiteral("proj.0KX")));
    }

    // Pack with Separate File into several volumes, move one volume away, unpack and find it
    // through the chooser that the job's FindVolume opens: the restored file is the original.
    void packSplitThenUnpackWithMovedVolume()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("bridge.kmx"));
        const QByteArray original = ProjectBytes(2400000);
        WriteFile(project, original);
        m_frame->View()->FileNameField()->setText(project);
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            dialog.DiskSizeList()->setCurrentIndex(2); // 360K
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("bridge.2KX"))));

        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("moved")));
        const QString moved = folder.filePath(QStringLiteral("moved/bridge.1KX"));
        QVERIFY(QFile::rename(folder.filePath(QStringLiteral("bridge.1KX")), moved));
        Modal::Reset();
        Modal::SetNextAnswer(IDOK);      // "Try to find it yourself?"
        Modal::SetNextFileName(moved);   // the chooser of FindVolume
        runCommand(ID_UNPACK_PROJECT, [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(folder.filePath(QStringLiteral("bridge.0KX")));
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        const auto chooser = std::find_if(Modal::Shown().begin(), Modal::Shown().end(),
                                          [](const Modal::Record& r) { return r.kind == Modal::Record::Chooser; });
        QVERIFY(chooser != Modal::Shown().end());
        // It opens in the packed file's folder, whatever the current folder is.
        QCOMPARE(chooser->text, folder.path() + QStringLiteral("|bridge.1KX"));
        QCOMPARE(chooser->owner, m_frame.get());
        // The question before it, asked by the worker through the main window.
        const Modal::Record& question = *(chooser - 1);
        QCOMPARE(question.kind, Modal::Record::Box);
        QVERIFY(question.text.contains(QStringLiteral("bridge.1KX")));
        QVERIFY(question.text.endsWith(QStringLiteral("Try to find it yourself?")));
        QCOMPARE(question.type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION));
        QCOMPARE(question.owner, m_frame.get());
        QVERIFY(LogText(*m_frame).startsWith(Catalogue(IDS_UNPACK_START)));
        QVERIFY(LogText(*m_frame).endsWith(Catalogue(IDS_UNPACK_END)));
        QCOMPARE(ReadFile(folder.filePath(QStringLiteral("bridge.KMX"))), original);
    }

    // A manifest of ours beside the packed file is checked at Unpack: restored bytes that
    // differ from its project line are refused and the older project file stays. A manifest
    // the program did not write is left alone, with a warning.
    void unpackChecksTheManifest_data()
    {
        QTest::addColumn<QString>("manifest");
        QTest::addColumn<bool>("restored");
        QTest::newRow("ours, matching") << "ours" << true;
        QTest::newRow("ours, another project file's checksum") << "ours, other project" << false;
        QTest::newRow("foreign") << "foreign" << true;
    }

    void unpackChecksTheManifest()
    {
        QFETCH(QString, manifest);
        QFETCH(bool, restored);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QString packed = folder.filePath(QStringLiteral("deck.0KX"));
        const QString manifestPath = folder.filePath(QStringLiteral("deck.sha256"));
        const QByteArray bytes = ProjectBytes(60000);
        WriteFile(project, bytes);
        QVERIFY(startPack(project, false, 0) == 1);
        QVERIFY(WaitForJobEnd());
        const QByteArray packedSum = QCryptographicHash::hash(ReadFile(packed), QCryptographicHash::Sha256).toHex();
        QByteArray projectSum = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        if (manifest == QStringLiteral("ours, other project")) {
            projectSum = QCryptographicHash::hash("another project", QCryptographicHash::Sha256).toHex();
        }
        const QByteArray text = manifest == QStringLiteral("foreign")
                                    ? packedSum + "  deck.0KX\n" + projectSum + "  notes.txt\n"
                                    : projectSum + "  deck.kmx\n" + packedSum + "  deck.0KX\n";
        WriteFile(manifestPath, text);
        const ManifestCheck examined = ExamineManifest(packed.toStdString());
        QCOMPARE(examined.kind, manifest == QStringLiteral("foreign") ? ManifestCheck::Foreign : ManifestCheck::Ours);
        const QString restoredPath = folder.filePath(QStringLiteral("deck.KMX"));
        WriteFile(restoredPath, "old project");

        m_frame->View()->FileNameField()->setText(packed);
        Modal::Reset();
        Modal::SetNextAnswer(IDOK); // replace the older project file
        runCommand(ID_UNPACK_PROJECT, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const QString log = LogText(*m_frame);
        QCOMPARE(ReadFile(restoredPath), restored ? bytes : QByteArray("old project"));
        QVERIFY2(log.endsWith(Catalogue(restored ? IDS_UNPACK_END : IDS_UNPACK_NOT_COMPLETE)), qPrintable(log));
        const QString mismatch = Catalogue(IDS_MANIFEST_RESTORED_MISMATCH).replace(QStringLiteral("%s"), manifestPath);
        const bool boxShown = std::any_of(Modal::Shown().begin(), Modal::Shown().end(),
                                          [&](const Modal::Record& r) {
                                              return r.text == mismatch && r.owner == m_frame.get();
                                          });
        QCOMPARE(boxShown, !restored);
        const QString warning = QStringLiteral("Warning: ") + QString::fromStdString(examined.strWarning);
        QCOMPARE(log.contains(warning), manifest == QStringLiteral("foreign"));
        // The manifest is the user's: never changed.
        QCOMPARE(ReadFile(manifestPath), text);
    }
};

QTEST_MAIN(WindowUnpackTest)
#include "test_window_unpack.moc"
