// Several files at once in the window: chosen together in a command's chooser, or dropped on
// the window. Their jobs run one after another; the queue's list shows each file's state, the
// log keeps each job's lines under its file's heading and ends with the summary; Cancel stops
// one file and asks whether to drop the rest.
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include "engine/batchsummary.h"
#include "tests/shell/windowfixture.h"

namespace {

// The states the queue's list shows, in its order, joined by commas.
QString States(CMainFrame& frame)
{
    QStringList states;
    QTreeWidget* list = frame.View()->QueueList();
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        states << list->topLevelItem(row)->text(1);
    return states.join(QLatin1Char(','));
}

QString Summary(unsigned id, long done, long files)
{
    return QString::fromStdString(FormatText(LoadString(id).c_str(), done, files));
}

QString Heading(const QString& file)
{
    return QString::fromStdString(BatchHeading(file.toStdString()));
}

} // namespace

class WindowQueueTest : public QObject, protected WindowFixture {
    Q_OBJECT

    // The command's dialog, its Browse choosing files, then OK.
    void chooseAndRun(int command, const QStringList& files)
    {
        Modal::SetNextFileNames(files);
        runCommand(command, [](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("browse")),
                              Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
    }

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    // Three files chosen at once, the second one damaged: each job runs after the one before
    // (the list shows it running while the others wait), the damaged one fails and the others
    // are written byte for byte as one-file jobs write them; the log holds each file's lines
    // under its heading and ends with the summary that names the failure and why.
    void threeFilesOneDamaged_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<unsigned>("summaryId");
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT) << unsigned(IDS_CLI_BATCH_RESTORED);
        QTest::newRow("Test") << int(ID_TEST_PACKED) << unsigned(IDS_CLI_BATCH_SOUND);
        QTest::newRow("Pack") << int(ID_PACK_PROJECT) << unsigned(IDS_CLI_BATCH_PACKED);
    }

    void threeFilesOneDamaged()
    {
        QFETCH(int, command);
        QFETCH(unsigned, summaryId);
        const bool pack = command == ID_PACK_PROJECT;
        QTemporaryDir folder;
        QTemporaryDir single; // the same projects packed one by one
        QStringList chosen;
        QList<QByteArray> projects;
        for (const char* name : {"a", "b", "c"}) {
            const QByteArray bytes = ProjectBytes(150000 + 90000 * int(projects.size()));
            projects << bytes;
            const QString project = folder.filePath(QLatin1String(name) + ".kmx");
            WriteFile(project, bytes);
            WriteFile(single.filePath(QLatin1String(name) + ".kmx"), bytes);
            QVERIFY(startPack(single.filePath(QLatin1String(name) + ".kmx"), false, 0) == 1);
            QVERIFY(WaitForJobEnd());
            if (!pack) {
                QFile::copy(single.filePath(QLatin1String(name) + ".0KX"),
                            folder.filePath(QLatin1String(name) + ".0KX"));
                QFile::remove(project);
            }
            chosen << folder.filePath(QLatin1String(name) + (pack ? ".kmx" : ".0KX"));
        }
        // A pack's input cannot be damaged: its failing file is one it is told not to write
        // over (the question, unanswered by the script, is answered Cancel).
        const QString damaged = folder.filePath(QStringLiteral("b.0KX"));
        WriteFile(damaged, pack ? QByteArray("kept")
                                : ReadFile(single.filePath(QStringLiteral("b.0KX"))).left(20000));

        QStringList running; // the list each time a file begins
        QTreeWidget* list = m_frame->View()->QueueList();
        auto connection =
            connect(list, &QTreeWidget::itemChanged, this, [&](QTreeWidgetItem* item, int column) {
                if (column == 1 && item->text(1) == Catalogue(IDS_QUEUE_RUNNING))
                    running << States(*m_frame);
            });
        Modal::Reset();
        chooseAndRun(command, chosen);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);
        // The failing job's box (the question, or what is damaged) names its file.
        std::vector<Modal::Record> boxes;
        for (const Modal::Record& record : Modal::Shown()) {
            if (record.kind == Modal::Record::Box)
                boxes.push_back(record);
        }
        QCOMPARE(boxes.size(), size_t(command == ID_TEST_PACKED ? 0 : 1));
        for (const Modal::Record& box : boxes)
            QVERIFY2(box.text.contains(pack ? damaged : chosen[1]), qPrintable(box.text));
        const QString w = Catalogue(IDS_QUEUE_WAITING);
        const QString r = Catalogue(IDS_QUEUE_RUNNING);
        const QString d = Catalogue(IDS_QUEUE_DONE);
        const QString f = Catalogue(IDS_QUEUE_FAILED);
        QCOMPARE(running, QStringList({r + ',' + w + ',' + w, d + ',' + r + ',' + w,
                                       d + ',' + f + ',' + r}));
        QCOMPARE(States(*m_frame), d + ',' + f + ',' + d);
        QVERIFY(list->isVisible());
        QVERIFY(m_frame->View()->findChild<QLabel*>(QStringLiteral("queueLabel"))->isVisible());

        const QString log = LogText(*m_frame);
        qsizetype at = 0;
        for (const QString& file : chosen) {
            const qsizetype heading = log.indexOf(Heading(file) + '\n', at);
            QVERIFY2(heading >= at, qPrintable(file + "\n" + log));
            at = heading + 1;
        }
        QVERIFY2(log.startsWith(Heading(chosen[0])), qPrintable(log));
        const QString summary = Summary(summaryId, 2, 3);
        const qsizetype summaryAt = log.lastIndexOf(QLatin1Char('\n') + summary + '\n');
        QVERIFY2(summaryAt > at, qPrintable(log));
        const QStringList after = log.mid(summaryAt).trimmed().split(QLatin1Char('\n'));
        QCOMPARE(after.size(), 2);
        const QString failed = QStringLiteral("Failed: ") + chosen[1] + QStringLiteral(": ");
        QVERIFY2(after[1].startsWith(failed) && after[1].size() > failed.size() + 3,
                 qPrintable(after[1]));
        // The reason is what the failed job's own lines said last, not its closing banner.
        QVERIFY2(!after[1].contains(QLatin1String("***")), qPrintable(after[1]));
        const QString failedSection =
            log.mid(log.indexOf(Heading(chosen[1])),
                    log.indexOf(Heading(chosen[2])) - log.indexOf(Heading(chosen[1])));
        QVERIFY2(failedSection.contains(after[1].mid(failed.size())), qPrintable(failedSection));

        // The files: the damaged one's output is not there (or as it was), the others' are the
        // bytes of one-file jobs.
        for (int i : {0, 2}) {
            const QString name = QLatin1String(i == 0 ? "a" : "c");
            if (pack) {
                QCOMPARE(ReadFile(folder.filePath(name + ".0KX")),
                         ReadFile(single.filePath(name + ".0KX")));
            } else if (command == ID_UNPACK_PROJECT) {
                QCOMPARE(ReadFile(folder.filePath(name + ".KMX")), projects[i]);
            }
        }
        const QStringList left = QDir(folder.path()).entryList(QDir::Files, QDir::Name);
        if (pack) {
            QCOMPARE(ReadFile(damaged), QByteArray("kept"));
            QCOMPARE(left, QStringList({"a.0KX", "a.kmx", "b.0KX", "b.kmx", "c.0KX", "c.kmx"}));
        } else if (command == ID_UNPACK_PROJECT) {
            QCOMPARE(left, QStringList({"a.0KX", "a.KMX", "b.0KX", "c.0KX", "c.KMX"}));
        } else {
            QCOMPARE(left, QStringList({"a.0KX", "b.0KX", "c.0KX"}));
        }
        // The commands are back once the summary is written.
        QVERIFY(m_frame->Action(command)->isEnabled());
        QVERIFY(!m_frame->IsJobRunning());

        // One file again: no list, no heading, no summary; the job as it has always been, its
        // name in the dialog's field as it is, without quotes.
        Modal::SetNextAnswer(IDOK); // replace the file the queue wrote
        Modal::SetNextFileNames({chosen[0]});
        QString named;
        runCommand(command, [&named](QDialog& dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("browse")),
                              Qt::LeftButton);
            named = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))->text();
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd(m_frame.get()));
        QCOMPARE(named, chosen[0]);
        QVERIFY(list->isHidden());
        QVERIFY(!LogText(*m_frame).contains(QLatin1String("==>")));
        QVERIFY(!LogText(*m_frame).contains(Summary(summaryId, 1, 1)));
        QCOMPARE(m_frame->View()->FileNameField()->text(), chosen[0]);
    }

    // x.kmx and x.KMX both pack into x.0KX: the second is not started (with OK to every
    // question it would replace the first's packed file), it fails with that reason, and the
    // packed file is the first project's.
    void aFileWritingWhatAnEarlierOneWritesIsNotStarted()
    {
        QTemporaryDir folder;
        QTemporaryDir single;
        const QByteArray first = ProjectBytes(120000);
        WriteFile(folder.filePath(QStringLiteral("x.kmx")), first);
        WriteFile(folder.filePath(QStringLiteral("x.KMX")), ProjectBytes(90000));
        WriteFile(single.filePath(QStringLiteral("x.kmx")), first);
        QVERIFY(startPack(single.filePath(QStringLiteral("x.kmx")), false, 0) == 1);
        QVERIFY(WaitForJobEnd());
        const QStringList chosen = {folder.filePath(QStringLiteral("x.kmx")),
                                    folder.filePath(QStringLiteral("x.KMX"))};
        Modal::Reset();
        Modal::SetNextAnswer(IDOK);
        chooseAndRun(ID_PACK_PROJECT, chosen);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        QCOMPARE(States(*m_frame), Catalogue(IDS_QUEUE_DONE) + ',' + Catalogue(IDS_QUEUE_FAILED));
        QCOMPARE(ReadFile(folder.filePath(QStringLiteral("x.0KX"))),
                 ReadFile(single.filePath(QStringLiteral("x.0KX"))));
        const QString reason = QString::fromStdString(
            FormatText(LoadString(IDS_BATCH_SAME_OUTPUT).c_str(),
                       folder.filePath(QStringLiteral("x.0KX")).toStdString().c_str(),
                       chosen[0].toStdString().c_str()));
        const QString log = LogText(*m_frame);
        QVERIFY2(log.endsWith(Summary(IDS_CLI_BATCH_PACKED, 1, 2) + QStringLiteral("\nFailed: ") +
                              chosen[1] + QStringLiteral(": ") + reason + '\n'),
                 qPrintable(log));
    }

    // Cancel during the first of three files stops its job (nothing of it left) and, once it
    // has ended, asks whether to drop the files still waiting. No: the next files run to their
    // end. Yes: none of them starts. Closing the window during the queue stops the job and
    // drops the rest without that question, then closes.
    void cancelAsksWhetherToDropTheRest_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel, then No") << QStringLiteral("no");
        QTest::newRow("Cancel, then Yes") << QStringLiteral("yes");
        QTest::newRow("close the window") << QStringLiteral("close");
    }

    void cancelAsksWhetherToDropTheRest()
    {
        QFETCH(QString, how);
        QTemporaryDir folder;
        QStringList packed;
        QList<QByteArray> projects;
        for (const char* name : {"a", "b", "c"}) {
            const QString project = folder.filePath(QLatin1String(name) + ".kmx");
            projects << ProjectBytes(projects.isEmpty() ? 3000000 : 100000);
            WriteFile(project, projects.last());
            QVERIFY(startPack(project, false, 0) == 1);
            QVERIFY(WaitForJobEnd());
            QFile::remove(project);
            packed << folder.filePath(QLatin1String(name) + ".0KX");
        }
        const QMap<QString, QByteArray> before = FolderContents(folder.path());

        QPushButton* cancel = m_frame->View()->CancelButton();
        QProgressBar* progress = m_frame->View()->Progress();
        int pressedAt = -1;
        auto connection = connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
            if (pressedAt < 0 && value >= 10) {
                pressedAt = value;
                if (how == QLatin1String("close")) {
                    m_frame->close();
                } else {
                    QTest::mouseClick(cancel, Qt::LeftButton);
                }
            }
        });
        Modal::Reset();
        chooseAndRun(ID_UNPACK_PROJECT, packed);
        // The one question: drop the rest (or, closing, stop and quit).
        Modal::SetNextAnswer(how == QLatin1String("no") ? IDCANCEL : IDOK);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);
        QVERIFY2(pressedAt >= 10, qPrintable(LogText(*m_frame)));

        const std::vector<Modal::Record> boxes = [] {
            std::vector<Modal::Record> found;
            for (const Modal::Record& record : Modal::Shown())
                if (record.kind == Modal::Record::Box)
                    found.push_back(record);
            return found;
        }();
        QCOMPARE(boxes.size(), size_t(1));
        if (how == QLatin1String("close")) {
            QVERIFY(boxes[0].text.startsWith(Catalogue(IDS_WAIT_FOR_JOB)));
            QTRY_VERIFY(!m_frame->isVisible());
        } else {
            QString question = Catalogue(IDS_QUEUE_DROP_REST);
            question.replace(QStringLiteral("%s"), packed[0])
                .replace(QStringLiteral("%ld"), QStringLiteral("2"));
            QCOMPARE(boxes[0].text, question);
        }

        const bool goesOn = how == QLatin1String("no");
        const QString n = Catalogue(IDS_QUEUE_NOT_DONE);
        const QString d = Catalogue(IDS_QUEUE_DONE);
        QCOMPARE(States(*m_frame), goesOn ? n + ',' + d + ',' + d : n + ',' + n + ',' + n);
        const QString log = LogText(*m_frame);
        QVERIFY2(log.contains(Catalogue(IDS_JOB_CANCELLED)), qPrintable(log));
        QVERIFY2(log.contains(Heading(packed[1])) == goesOn, qPrintable(log));
        QStringList summary{Summary(IDS_CLI_BATCH_RESTORED, goesOn ? 2 : 0, 3),
                            QStringLiteral("Not done: ") + packed[0]};
        if (!goesOn)
            summary << QStringLiteral("Not done: ") + packed[1]
                    << QStringLiteral("Not done: ") + packed[2];
        QVERIFY2(log.endsWith(QLatin1Char('\n') + summary.join(QLatin1Char('\n')) + '\n'),
                 qPrintable(log));

        // Nothing of the cancelled job; the files after it restored when the queue went on.
        QMap<QString, QByteArray> expected = before;
        if (goesOn) {
            expected.insert(QStringLiteral("b.KMX"), projects[1]);
            expected.insert(QStringLiteral("c.KMX"), projects[2]);
        }
        QCOMPARE(FolderContents(folder.path()), expected);
    }

    // Several files dropped on the window: the project files are packed and the packed files
    // restored, each group after its command's dialog, which names the group's files; a drop
    // of one file still only names it.
    void droppedFilesAreQueued()
    {
        QTemporaryDir folder;
        const QString deck = folder.filePath(QStringLiteral("deck.kmx"));
        const QByteArray deckBytes = ProjectBytes(120000);
        WriteFile(deck, deckBytes);
        QStringList packed;
        QList<QByteArray> projects;
        for (const char* name : {"a", "b"}) {
            const QString project = folder.filePath(QLatin1String(name) + ".kmx");
            projects << ProjectBytes(60000 + 1000 * int(projects.size()));
            WriteFile(project, projects.last());
            QVERIFY(startPack(project, false, 0) == 1);
            QVERIFY(WaitForJobEnd());
            QFile::remove(project);
            packed << folder.filePath(QLatin1String(name) + ".0KX");
        }
        QList<QUrl> urls{QUrl::fromLocalFile(packed[0]), QUrl::fromLocalFile(deck),
                         QUrl::fromLocalFile(packed[1]),
                         QUrl::fromLocalFile(folder.filePath(QStringLiteral("notes.txt")))};
        QMimeData data;
        data.setUrls(urls);

        Modal::Reset();
        QStringList named; // what each dialog's File Name field held
        for (int dialog = 0; dialog < 2; ++dialog) {
            Modal::SetNextModal([&](QDialog& shown) {
                named << shown.findChild<QLineEdit*>(QStringLiteral("fileName"))->text();
                QTest::mouseClick(shown.findChild<QPushButton*>(QStringLiteral("ok")),
                                  Qt::LeftButton);
                return shown.result();
            });
        }
        const QPoint at = m_frame->View()->StatusLog()->mapTo(
            m_frame.get(), m_frame->View()->StatusLog()->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_frame->windowHandle(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_frame->windowHandle(), &drop);
        QVERIFY(drop.isAccepted());
        QTRY_VERIFY(m_frame->IsJobRunning() || named.size() == 2);
        QVERIFY(WaitForJobEnd(m_frame.get()));

        QCOMPARE(named, QStringList({deck, '"' + packed[0] + "\" \"" + packed[1] + '"'}));
        QCOMPARE(Modal::Shown()[0].text, Catalogue(IDS_PACK_CAPTION));
        QCOMPARE(Modal::Shown()[1].text, Catalogue(IDS_UNPACK_CAPTION));
        const QString d = Catalogue(IDS_QUEUE_DONE);
        QCOMPARE(States(*m_frame), d + ',' + d + ',' + d);
        const QString log = LogText(*m_frame);
        QVERIFY2(log.endsWith(QLatin1Char('\n') + Summary(IDS_CLI_BATCH_PACKED, 1, 1) + '\n' +
                              Summary(IDS_CLI_BATCH_RESTORED, 2, 2) + '\n'),
                 qPrintable(log));
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("deck.0KX"))));
        QCOMPARE(ReadFile(folder.filePath(QStringLiteral("a.KMX"))), projects[0]);
        QCOMPARE(ReadFile(folder.filePath(QStringLiteral("b.KMX"))), projects[1]);
    }

    // The chooser's names go into the dialog's field, each in quotes, and back out of it; a
    // name typed without quotes is one name, as typed.
    void fieldHoldsSeveralNames_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one") << QStringLiteral("/d/a b.kmx") << QStringList{"/d/a b.kmx"};
        QTest::newRow("one, spaces kept") << QStringLiteral(" a.kmx") << QStringList{" a.kmx"};
        QTest::newRow("several") << QStringLiteral("\"/d/a b.kmx\"  \"c.kmx\" ")
                                 << QStringList{"/d/a b.kmx", "c.kmx"};
        QTest::newRow("one quoted") << QStringLiteral("\"a.kmx\"") << QStringList{"a.kmx"};
        QTest::newRow("not a list")
            << QStringLiteral("\"a.kmx\" b.kmx") << QStringList{"\"a.kmx\" b.kmx"};
        QTest::newRow("empty") << QStringLiteral("  ") << QStringList{};
    }

    void fieldHoldsSeveralNames()
    {
        QFETCH(QString, field);
        QFETCH(QStringList, names);
        QCOMPARE(FileNamesIn(field), names);
        if (names.size() > 1) {
            QCOMPARE(FileNamesIn(FileNamesField(names)), names);
        }
    }
};

QTEST_MAIN(WindowQueueTest)
#include "test_window_queue.moc"
