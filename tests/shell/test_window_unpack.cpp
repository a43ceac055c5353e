// The window's Unpack from the dialog to the log's last line: the field's file restored, a
// volume asked for where it was moved, and the manifest checked.
#include "tests/shell/windowfixture.h"

#include <QProcess>
#include <cerrno>
#include <unistd.h>

#include "platform/files.h"

// A folder the program cannot write, as a CD or a read-only share is: the folder made
// read-only for a user, a read-only view of it for root (whom permissions do not stop).
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder) : m_folder(folder)
    {
        if (geteuid() != 0) {
            m_made = QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            return;
        }
        m_view = folder + QStringLiteral("-cd");
        m_made = QDir().mkpath(m_view) &&
                 QProcess::execute(QStringLiteral("mount"),
                                   {QStringLiteral("--bind"), QStringLiteral("-o"),
                                    QStringLiteral("ro"), folder, m_view}) == 0;
        m_mounted = m_made;
    }
    ~ReadOnlyFolder()
    {
        if (m_mounted) {
            QProcess::execute(QStringLiteral("umount"), {m_view});
            QDir().rmdir(m_view);
        } else if (m_made) {
            QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner);
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool Made() const { return m_made; }
    // The read-only folder's path: the folder itself, or its read-only view.
    QString Path() const { return m_view.isEmpty() ? m_folder : m_view; }

private:
    QString m_folder;
    QString m_view;
    bool m_made = false;
    bool m_mounted = false;
};

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
            SelectDiskSize(dialog, QStringLiteral("360K"));
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("bridge.2KX"))));

        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("moved")));
        const QString moved = folder.filePath(QStringLiteral("moved/bridge.1KX"));
        QVERIFY(QFile::rename(folder.filePath(QStringLiteral("bridge.1KX")), moved));
        Modal::Reset();
        Modal::SetNextAnswer(IDOK);    // "Try to find it yourself?"
        Modal::SetNextFileName(moved); // the chooser of FindVolume
        runCommand(ID_UNPACK_PROJECT, [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))
                ->setText(folder.filePath(QStringLiteral("bridge.0KX")));
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        const auto chooser =
            std::find_if(Modal::Shown().begin(), Modal::Shown().end(),
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
        const QByteArray packedSum =
            QCryptographicHash::hash(ReadFile(packed), QCryptographicHash::Sha256).toHex();
        QByteArray projectSum = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        if (manifest == QStringLiteral("ours, other project")) {
            projectSum =
                QCryptographicHash::hash("another project", QCryptographicHash::Sha256).toHex();
        }
        const QByteArray text = manifest == QStringLiteral("foreign")
                                    ? packedSum + "  deck.0KX\n" + projectSum + "  notes.txt\n"
                                    : projectSum + "  deck.kmx\n" + packedSum + "  deck.0KX\n";
        WriteFile(manifestPath, text);
        const ManifestCheck examined = ExamineManifest(packed.toStdString());
        QCOMPARE(examined.kind, manifest == QStringLiteral("foreign") ? ManifestCheck::Foreign
                                                                      : ManifestCheck::Ours);
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
        QVERIFY2(log.endsWith(Catalogue(restored ? IDS_UNPACK_END : IDS_UNPACK_NOT_COMPLETE)),
                 qPrintable(log));
        const QString mismatch =
            Catalogue(IDS_MANIFEST_RESTORED_MISMATCH).replace(QStringLiteral("%s"), manifestPath);
        const bool boxShown =
            std::any_of(Modal::Shown().begin(), Modal::Shown().end(), [&](const Modal::Record& r) {
                return r.text == mismatch && r.owner == m_frame.get();
            });
        QCOMPARE(boxShown, !restored);
        // The reason stays in the log too, for a log that is saved.
        QCOMPARE(log.contains(mismatch), !restored);
        const QString warning =
            QStringLiteral("Warning: ") + QString::fromStdString(examined.strWarning);
        QCOMPARE(log.contains(warning), manifest == QStringLiteral("foreign"));
        // The manifest is the user's: never changed.
        QCOMPARE(ReadFile(manifestPath), text);
    }

    // A set on read-only media: OK offers to restore into another folder; the folder chosen
    // gets the project file, the log says where it went, and the media stays as it was. A
    // folder named in the dialog that cannot be written is refused with the reason.
    void readOnlyMediaRestoresIntoAnotherFolder()
    {
        QTemporaryDir media, target;
        const QString project = media.filePath(QStringLiteral("deck.kmx"));
        const QByteArray bytes = ProjectBytes(900000);
        WriteFile(project, bytes);
        QVERIFY(startPack(project, true, 360000) == 1);
        QVERIFY(WaitForJobEnd());
        QVERIFY(QFile::remove(project));
        ReadOnlyFolder cd(media.path());
        if (!cd.Made()) {
            QSKIP("no read-only folder can be made here");
        }
        const QMap<QString, QByteArray> before = FolderContents(cd.Path());
        const QString packed = cd.Path() + QStringLiteral("/deck.0KX");

        // Cancel at the offer: the dialog stays open. A folder that does not exist is refused.
        // Then OK at the offer, and the folder chooser gives the target.
        Modal::Reset();
        Modal::SetNextAnswer(IDCANCEL);
        Modal::SetNextAnswer(IDOK);
        Modal::SetNextAnswer(IDOK);
        Modal::SetNextFileName(target.path());
        QStringList intoShown;
        bool intoVisible = false;
        m_frame->View()->FileNameField()->setText(packed);
        runCommand(ID_UNPACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CUnpackProjectDlg&>(d);
            intoVisible = dialog.IntoFolderField()->isVisible();
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            intoShown << (dialog.isVisible() ? dialog.IntoFolderField()->text()
                                             : QStringLiteral("closed"));
            dialog.IntoFolderField()->setText(target.filePath(QStringLiteral("missing")));
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            intoShown << (dialog.isVisible() ? dialog.IntoFolderField()->text()
                                             : QStringLiteral("closed"));
            dialog.IntoFolderField()->clear();
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            intoShown << dialog.IntoFolderField()->text();
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        QVERIFY(intoVisible);
        QCOMPARE(m_lastResults.last(), int(QDialog::Accepted));
        QCOMPARE(intoShown, (QStringList{QString(), target.filePath(QStringLiteral("missing")),
                                         target.path()}));

        const std::vector<Modal::Record>& shown = Modal::Shown();
        QCOMPARE(shown.size(),
                 size_t(5)); // the dialog, the offer, the refusal, the offer, the chooser
        const QString readOnly =
            QString::fromStdString(SystemErrorText(geteuid() == 0 ? EROFS : EACCES));
        QVERIFY2(shown[1].text.contains(cd.Path()) && shown[1].text.contains(readOnly),
                 qPrintable(shown[1].text));
        QCOMPARE(shown[1].type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION));
        QVERIFY2(shown[2].text.contains(target.filePath(QStringLiteral("missing"))),
                 qPrintable(shown[2].text));
        QCOMPARE(shown[4].kind, Modal::Record::Chooser);
        QCOMPARE(shown[4].title, QStringLiteral("Restore to"));

        QCOMPARE(ReadFile(target.filePath(QStringLiteral("deck.KMX"))), bytes);
        QCOMPARE(FolderContents(cd.Path()), before);
        const QString log = LogText(*m_frame);
        QVERIFY2(
            log.endsWith(
                QStringLiteral("Restored '%1'.").arg(target.filePath(QStringLiteral("deck.KMX"))) +
                Catalogue(IDS_UNPACK_END)),
            qPrintable(log));
    }

    // Where did my file go: the log names the restored file, and a file beside it whose name
    // differs only in letter case (deck.kmx beside deck.KMX: two files here) is named too.
    void theLogSaysWhereTheFileWent()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QByteArray bytes = ProjectBytes(40000);
        WriteFile(project, bytes);
        QVERIFY(startPack(project, false, 0) == 1);
        QVERIFY(WaitForJobEnd());
        m_frame->View()->FileNameField()->setText(folder.filePath(QStringLiteral("deck.0KX")));
        runCommand(ID_UNPACK_PROJECT, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        const QString restored = folder.filePath(QStringLiteral("deck.KMX"));
        QCOMPARE(ReadFile(restored), bytes);
        const QString log = LogText(*m_frame);
        const QString note =
            QStringLiteral("Note: '%1' is there too, a different file whose name differs from "
                           "'%2' only in letter case.")
                .arg(project, restored);
        QVERIFY2(log.endsWith(note + QStringLiteral("\nRestored '%1'.").arg(restored) +
                              Catalogue(IDS_UNPACK_END)),
                 qPrintable(log));
    }
};

QTEST_MAIN(WindowUnpackTest)
#include "test_window_unpack.moc"
