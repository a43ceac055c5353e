// The Pack and Unpack commands with their real dialogs, Help and About, driven as a user
// would: proposals from the form, OK following the field, the checks at OK, what the job gets.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>
#include <QCryptographicHash>
#include <QAccessible>
#include <QScrollBar>
#include <functional>
#include <memory>

#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/manifest.h"
#include "engine/packjob.h"
#include "engine/unpackjob.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/ids.h"
#include "shell/mainframe.h"
#include "shell/modal.h"
#include "shell/qthost.h"
#include "shell/texts.h"
#include "shell/view.h"

namespace {

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Text lines with running numbers: they compress to about a third.
QByteArray ProjectBytes(int size)
{
    QByteArray bytes;
    for (qint64 line = 0; bytes.size() < size; ++line) {
        bytes += "beam " + QByteArray::number(line) + " span " +
                 QByteArray::number(line * 7919 % 100000) + " load " +
                 QByteArray::number(line * 104729 % 65536) + "\n";
    }
    bytes.truncate(size);
    return bytes;
}

// Until the worker has ended and the window has gone back to idle (and, given the window, its
// log is closed). The events are handled as they come: a job's worker waits on the window at
// every log line and move of the bar, so a wait that sleeps between looks slows it down.
bool WaitForJobEnd(const CMainFrame* frame = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick; // wakes the loop when the end shows in no event of its own
    tick.start(5);
    while (RunningWorkerThreads() != 0 || g_nJobState != JOB_IDLE ||
           (frame != nullptr && frame->IsJobRunning())) {
        if (clock.elapsed() > 60000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Every file under folder by its relative path, with its bytes.
QMap<QString, QByteArray> FolderContents(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        contents.insert(QDir(folder).relativeFilePath(path), ReadFile(path));
    }
    return contents;
}

QString LogText(CMainFrame& frame)
{
    return frame.View()->StatusLog()->toPlainText();
}

void ClearSettings()
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("packtool"),
              QStringLiteral("packtool"))
        .clear();
}

QString Catalogue(unsigned id)
{
    return QString::fromStdString(LoadString(id)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SetLanguage(Language::English);
        Modal::SetScriptedOnly(true);
        QStandardPaths::setTestModeEnabled(true);
        // Settings of this test alone: other shell tests run beside it, and a user's own
        // settings must stay out of it.
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QVERIFY(m_folder.isValid());
        m_startFolder = QDir::currentPath();
    }

    void init()
    {
        ClearSettings();
        Modal::Reset();
        m_lastResults.clear();
        SetLanguage(Language::English);
        m_frame = std::make_unique<CMainFrame>();
        QtMainWindowHost::Instance().Attach(m_frame.get());
        m_frame->View()->OnInitialUpdate();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanup()
    {
        QVERIFY(WaitForJobEnd());
        QtMainWindowHost::Instance().Attach(nullptr);
        m_frame.reset();
        QDir::setCurrent(m_startFolder);
        SetLanguage(Language::English);
    }

    void packProposal_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("proposal");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blanks only") << "   " << "";
        QTest::newRow("packed file with blanks around") << "  /data/set/deck.0KX  " << "/data/set/deck.kmx";
        QTest::newRow("tabs and line end") << "\t/data/deck.kmx\n" << "/data/deck.kmx";
        QTest::newRow("no extension") << "/data/set/deck" << "/data/set/deck.kmx";
        QTest::newRow("folder only") << "/data/set/" << "/data/set/.kmx";
        QTest::newRow("dot in a folder name") << "/data/a.b/deck" << "/data/a.b/deck.kmx";
    }

    void packProposal()
    {
        QFETCH(QString, field);
        QFETCH(QString, proposal);
        checkProposal(ID_PACK_PROJECT, field, proposal);
    }

    void unpackProposal_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("proposal");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("full path of a packed file") << "/data/set/deck.0KX" << "/data/set/deck.0KX";
        QTest::newRow("blanks around") << "  /data/set/deck.0KX " << "/data/set/deck.0KX";
        QTest::newRow("second kind of packed file") << "/data/deck.0rv" << "/data/deck.0rv";
        QTest::newRow("project file after a pack") << "/data/deck.kmx" << "/data/deck.0KX";
        QTest::newRow("project file after an unpack") << "/data/deck.KMX" << "/data/deck.0KX";
        QTest::newRow("second kind of project file") << "/data/deck.RVN" << "/data/deck.0RV";
        QTest::newRow("other extension kept") << "/data/deck.1KX" << "/data/deck.1KX";
        QTest::newRow("no extension") << "/data/deck" << "/data/deck";
        QTest::newRow("name without a folder") << "deck.0KX" << "deck.0KX";
        QTest::newRow("folder only") << "/data/set/" << "/data/set/";
    }

    void unpackProposal()
    {
        QFETCH(QString, field);
        QFETCH(QString, proposal);
        // Test names its packed file as Unpack does.
        checkProposal(ID_UNPACK_PROJECT, field, proposal);
        checkProposal(ID_TEST_PACKED, field, proposal);
    }

    // OK is available exactly while the field holds some text, blanks included.
    void okFollowsTheField_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("Pack") << int(ID_PACK_PROJECT);
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT);
    }

    void okFollowsTheField()
    {
        QFETCH(int, command);
        QList<bool> states;
        runCommand(command, [&](QDialog& dialog) {
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("ok"));
            states << ok->isEnabled();
            QTest::keyClicks(field, QStringLiteral("a"));
            states << ok->isEnabled();
            QTest::keyClick(field, Qt::Key_Backspace);
            states << ok->isEnabled();
            QTest::keyClicks(field, QStringLiteral("  "));
            states << ok->isEnabled();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(states, (QList<bool>{false, true, false, true}));
    }

    void separateFileEnablesTheList()
    {
        QList<bool> enabled;
        QStringList labels;
        int keptIndex = -1;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QComboBox* list = dialog.DiskSizeList();
            for (int i = 0; i < list->count(); ++i) {
                labels << list->itemText(i);
            }
            enabled << list->isEnabled();
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            enabled << list->isEnabled();
            list->setCurrentIndex(3);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            enabled << list->isEnabled();
            keptIndex = list->currentIndex();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(labels, (QStringList{"1.44 MB", "1.20 MB", "360K", "720 K"}));
        QCOMPARE(enabled, (QList<bool>{false, true, false}));
        QCOMPARE(keptIndex, 3);
    }

    void sizesHandedToTheJob_data()
    {
        QTest::addColumn<bool>("separate");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("split");
        QTest::addColumn<int>("volumeSize");
        QTest::newRow("defaults") << false << -1 << 0 << 1440000;
        QTest::newRow("720 K") << true << 3 << 1 << 720000;
        QTest::newRow("1.20 MB") << true << 1 << 1 << 1200000;
        QTest::newRow("360K, then Separate File cleared") << false << 2 << 0 << 360000;
    }

    // OK hands the choice to the job, writes the name back into the form and empties the log
    // before the job's first line.
    void sizesHandedToTheJob()
    {
        QFETCH(bool, separate);
        QFETCH(int, index);
        QFETCH(int, split);
        QFETCH(int, volumeSize);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(20000));
        m_frame->View()->FileNameField()->setText(QStringLiteral("  ") + project);
        m_frame->View()->AppendToLog(QStringLiteral("the previous job's lines\n"));

        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            if (index >= 0) {
                QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
                dialog.DiskSizeList()->setCurrentIndex(index);
                if (!separate) {
                    QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
                }
            }
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QCOMPARE(m_frame->LastPackRequest().bSplitFile, split != 0);
        QCOMPARE(m_frame->LastPackRequest().nVolumeSize, volumeSize);
        QCOMPARE(m_frame->View()->FileNameField()->text(), project);
        QVERIFY(LogText(*m_frame).startsWith(Catalogue(IDS_PACK_START)));
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("deck.0KX"))));
    }

    void nameThatDoesNotOpen_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("name");
        QTest::newRow("Pack, missing file") << int(ID_PACK_PROJECT) << "/no/such/folder/deck.kmx";
        QTest::newRow("Pack, blanks only") << int(ID_PACK_PROJECT) << "   ";
        QTest::newRow("Pack, a folder") << int(ID_PACK_PROJECT) << QDir::tempPath();
        QTest::newRow("Unpack, missing file") << int(ID_UNPACK_PROJECT) << "deck.0KX";
        QTest::newRow("Unpack, a folder") << int(ID_UNPACK_PROJECT) << QDir::tempPath();
    }

    // Message 1204 with the name; the dialog stays open with the name selected.
    void nameThatDoesNotOpen()
    {
        QFETCH(int, command);
        QFETCH(QString, name);
        QDir::setCurrent(m_folder.path());
        bool stayedOpen = false;
        QString selected;
        QWidget* dialogSeen = nullptr;
        runCommand(command, [&](QDialog& dialog) {
            dialogSeen = &dialog;
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            field->setText(name);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            stayedOpen = dialog.isVisible() && dialog.result() != QDialog::Accepted;
            selected = field->selectedText();
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(stayedOpen);
        QCOMPARE(selected, name);
        const std::vector<Modal::Record>& shown = Modal::Shown();
        QCOMPARE(shown.size(), size_t(2)); // the dialog, then the box
        QCOMPARE(shown[1].kind, Modal::Record::Box);
        QCOMPARE(shown[1].text, QStringLiteral("Unable to open the file '%1'.").arg(name));
        QCOMPARE(shown[1].type, unsigned(MB_OK | MB_ICONEXCLAMATION));
        QCOMPARE(shown[1].owner, dialogSeen);
        QCOMPARE(RunningWorkerThreads(), 0);
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("escape");
        QTest::newRow("Pack, Cancel") << int(ID_PACK_PROJECT) << false;
        QTest::newRow("Pack, Escape") << int(ID_PACK_PROJECT) << true;
        QTest::newRow("Unpack, Cancel") << int(ID_UNPACK_PROJECT) << false;
        QTest::newRow("Unpack, Escape") << int(ID_UNPACK_PROJECT) << true;
    }

    void cancelChangesNothing()
    {
        QFETCH(int, command);
        QFETCH(bool, escape);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(1000));
        m_frame->View()->FileNameField()->setText(project);
        m_frame->View()->AppendToLog(QStringLiteral("kept\n"));
        runCommand(command, [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(project);
            if (escape) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
            }
            return dialog.result();
        });
        QCOMPARE(m_frame->View()->FileNameField()->text(), project);
        QCOMPARE(LogText(*m_frame), QStringLiteral("kept\n"));
        QCOMPARE(RunningWorkerThreads(), 0);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("deck.kmx")});
    }

    void browseStartsInDatabaseFolder_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("filter");
        QTest::newRow("Pack") << int(ID_PACK_PROJECT) << "Project Files (*.kmx)";
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT)
                                << "Packed Files (*.0kx);;Packed Files (*.0rv)";
    }

    void browseStartsInDatabaseFolder()
    {
        QFETCH(int, command);
        QFETCH(QString, filter);
        const QString database = GetModuleDirectory() + QStringLiteral("database");
        QVERIFY(QDir().mkpath(database));
        const QString chosen = m_folder.filePath(QStringLiteral("picked.kmx"));
        Modal::SetNextFileName(chosen);
        Modal::SetNextFileName(QString()); // the second Browse is cancelled
        QStringList fields;
        bool okEnabled = false;
        runCommand(command, [&](QDialog& dialog) {
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            auto* browse = dialog.findChild<QPushButton*>(QStringLiteral("browse"));
            QTest::mouseClick(browse, Qt::LeftButton);
            fields << field->text();
            okEnabled = dialog.findChild<QPushButton*>(QStringLiteral("ok"))->isEnabled();
            QTest::mouseClick(browse, Qt::LeftButton);
            fields << field->text();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(fields, (QStringList{chosen, chosen}));
        QVERIFY(okEnabled);
        const Modal::Record& chooser = Modal::Shown().at(1);
        QCOMPARE(chooser.kind, Modal::Record::Chooser);
        QCOMPARE(chooser.text, database + QLatin1Char('|'));
        QCOMPARE(chooser.filter, filter);
        // The second Browse opens where the first choice was; the current folder stays.
        QCOMPARE(Modal::Shown().at(2).text, m_folder.path() + QLatin1Char('|'));
        QCOMPARE(QDir::currentPath(), m_startFolder);
        QDir(database).removeRecursively();
    }

    // F1 and the menu open the help of the texts' language from the program's folder, at its
    // contents, also when the current folder is elsewhere; a dialog asking for help stays open.
    void helpOpensAtContents_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("English") << int(Language::English) << "enzunpak.hlp" << "Pack Tool Help";
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
        const QString expectedPath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;

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

    // Every text of the three dialogs shows whole, inside its dialog, in both languages.
    void dialogTextsFit_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void dialogTextsFit()
    {
        QFETCH(int, language);
        SetLanguage(static_cast<Language>(language));
        CPackProjectDlg pack(m_frame.get());
        CUnpackProjectDlg unpack(m_frame.get());
        CAboutDlg about(m_frame.get());
        for (QDialog* dialog : {static_cast<QDialog*>(&pack), static_cast<QDialog*>(&unpack),
                                static_cast<QDialog*>(&about)}) {
            for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                const QString where = dialog->objectName() + QLatin1Char('/') + child->objectName();
                QVERIFY2(dialog->rect().contains(child->geometry()), qPrintable(where));
                QString text;
                int room = child->width();
                if (auto* label = qobject_cast<QLabel*>(child)) {
                    if (label->wordWrap() || label->text().isEmpty()) {
                        continue;
                    }
                    text = label->text();
                } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                    text = button->text();
                    room -= qobject_cast<QCheckBox*>(child) != nullptr ? 24 : 6;
                } else {
                    continue;
                }
                text.remove(QLatin1Char('&'));
                QVERIFY2(child->fontMetrics().horizontalAdvance(text) <= room,
                         qPrintable(where + QStringLiteral(" clips \"") + text + QLatin1Char('"')));
                QVERIFY2(child->fontMetrics().height() <= child->height(), qPrintable(where));
            }
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
            QVERIFY2(!((japaneseBefore && textAfter) || (inlineBefore && after.front().unicode() >= 0x3000)),
                     qPrintable(QStringLiteral("line %1: ").arg(i) + before.right(20) + QStringLiteral(" | ") + after.left(20)));
        }
    }

    // OK and Cancel on one row, the same height, in both dialogs and both languages; every
    // control of the dialogs and the help viewer has an accessible name.
    void dialogButtonsAlignedAndNamed_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void dialogButtonsAlignedAndNamed()
    {
        QFETCH(int, language);
        SetLanguage(static_cast<Language>(language));
        CPackProjectDlg pack(m_frame.get());
        CUnpackProjectDlg unpack(m_frame.get());
        CAboutDlg about(m_frame.get());
        CHelpViewer viewer(m_frame.get());
        for (CProjectFileDlg* dialog : {static_cast<CProjectFileDlg*>(&pack), static_cast<CProjectFileDlg*>(&unpack)}) {
            QCOMPARE(dialog->OkButton()->geometry().top(), dialog->CancelButton()->geometry().top());
            QCOMPARE(dialog->OkButton()->height(), dialog->CancelButton()->height());
        }
        for (QWidget* window : {static_cast<QWidget*>(&pack), static_cast<QWidget*>(&unpack),
                                static_cast<QWidget*>(&about), static_cast<QWidget*>(&viewer)}) {
            for (QWidget* child : window->findChildren<QWidget*>()) {
                if (child->focusPolicy() == Qt::NoFocus || qobject_cast<QScrollBar*>(child) ||
                    child->parentWidget() != window) {
                    continue;
                }
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
                const QString name = accessible->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains(QLatin1Char('&')),
                         qPrintable(window->objectName() + QLatin1Char('/') + child->objectName()));
            }
        }
        if (static_cast<Language>(language) == Language::Japanese) {
            QCOMPARE(pack.FileNameField()->accessibleName(), QString::fromUtf8("ﾌｧｲﾙ名"));
            // The chooser for a missing volume speaks the language too.
            QCOMPARE(FilterFromCatalogue(IDS_FINDFILE_FILTER), QString::fromUtf8("圧縮ﾌｧｲﾙ (*.?kx)"));
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
        QVERIFY(viewer.Browser()->toPlainText().contains(m_folder.filePath(QStringLiteral("enzunpak.hlp"))));
    }

    // About shows the icon and the version at the same place next to the main window every
    // time, and closes with OK and with Escape.
    void aboutClosesWithOkAndEscape()
    {
        QList<QPoint> offsets;
        QStringList versions;
        int iconsShown = 0;
        for (bool escape : {false, true}) {
            runCommand(ID_APP_ABOUT, [&](QDialog& dialog) {
                auto* icon = dialog.findChild<QLabel*>(QStringLiteral("icon"));
                iconsShown += icon != nullptr && !icon->pixmap().isNull() ? 1 : 0;
                versions << dialog.findChild<QLabel*>(QStringLiteral("version"))->text();
                offsets << dialog.pos() - m_frame->mapToGlobal(QPoint(0, 0));
                if (escape) {
                    QTest::keyClick(&dialog, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
                }
                return dialog.result();
            });
            QCOMPARE(Modal::Shown().back().kind, Modal::Record::Dialog);
        }
        QCOMPARE(iconsShown, 2);
        QCOMPARE(versions, (QStringList{"Pack Tool Version 6.2", "Pack Tool Version 6.2"}));
        QCOMPARE(offsets.size(), 2);
        QCOMPARE(offsets[0], offsets[1]);
        const DialogUnits units = DialogUnits::FromFont(QFontMetrics(DialogFont()));
        QCOMPARE(offsets[0], QPoint(units.X(34), units.Y(22)));
        QCOMPARE(m_lastResults, (QList<int>{QDialog::Accepted, QDialog::Rejected}));
    }

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

    // A job that does not complete ends its log with the program's own line instead of the
    // closing banner, and its bar starts from nothing.
    void failedJobSaysSo_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("packedBytes");
        QTest::addColumn<bool>("projectExists");
        QTest::addColumn<unsigned>("lastLine");
        QTest::newRow("Pack, old packed file kept") << int(ID_PACK_PROJECT) << QByteArray("old") << true
                                                    << unsigned(IDS_PACK_NOT_COMPLETE);
        QTest::newRow("Unpack, old project file kept") << int(ID_UNPACK_PROJECT) << QByteArray() << true
                                                       << unsigned(IDS_UNPACK_NOT_COMPLETE);
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
            dialog.DiskSizeList()->setCurrentIndex(2); // 360K
            QTest::mouseClick(dialog.WriteChecksumsBox(), Qt::LeftButton);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        const QString manifest = folder.filePath(QStringLiteral("deck.sha256"));
        QStringList expected{QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()) +
                             QStringLiteral("  deck.kmx")};
        const QStringList volumes = QDir(folder.path()).entryList({QStringLiteral("deck.?KX")}, QDir::Files, QDir::Name);
        QVERIFY(volumes.size() >= 2);
        for (const QString& volume : volumes) {
            const QByteArray data = ReadFile(folder.filePath(volume));
            expected << QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()) +
                            QStringLiteral("  ") + volume;
        }
        const QStringList lines = QString::fromLatin1(ReadFile(manifest)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines, expected);
        QVERIFY(LogText(*m_frame).contains(QStringLiteral("Checksums written to '%1'.").arg(manifest)));
        QVERIFY(LogText(*m_frame).endsWith(Catalogue(IDS_PACK_END)));

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
        QVERIFY2(LogText(*m_frame).endsWith(Catalogue(IDS_PACK_END)), qPrintable(LogText(*m_frame)));
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
        QVERIFY2(log.contains(QString::fromStdString(FormatText(LoadString(IDS_MANIFEST_FOREIGN_IGNORED).c_str(),
                                                                 manifest.toStdString().c_str()))),
                 qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("The checksums could not be written to '%1'.").arg(manifest)),
                 qPrintable(log));
        QVERIFY2(log.endsWith(Catalogue(IDS_PACK_END)), qPrintable(log));
        QVERIFY(!log.contains(Catalogue(IDS_PACK_NOT_COMPLETE)));
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
        QTest::newRow("Pack into a set, Escape") << int(ID_PACK_PROJECT) << 360000 << true
                                                 << unsigned(IDS_PACK_NOT_COMPLETE);
        QTest::newRow("Unpack over an older project file, Escape")
            << int(ID_UNPACK_PROJECT) << 0 << true << unsigned(IDS_UNPACK_NOT_COMPLETE);
        QTest::newRow("Unpack of a set while joining, Cancel")
            << int(ID_UNPACK_PROJECT) << 360000 << false << unsigned(IDS_UNPACK_NOT_COMPLETE);
        QTest::newRow("Test, Cancel") << int(ID_TEST_PACKED) << 0 << false
                                      << unsigned(IDS_TEST_NOT_SOUND_END);
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
        m_frame->View()->FileNameField()->setText(command == ID_PACK_PROJECT ? project
                                                                            : folder.filePath(QStringLiteral("deck.0KX")));
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
                pack->DiskSizeList()->setCurrentIndex(2); // 360K
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
        for (int id : {int(ID_PACK_PROJECT), int(ID_UNPACK_PROJECT), int(ID_TEST_PACKED), int(ID_APP_EXIT)}) {
            QVERIFY(m_frame->Action(id)->isEnabled());
        }
        QVERIFY(!m_frame->IsWaitCursorShown());

        // The same command again: from an empty bar to its end.
        QList<int> percents;
        connection = connect(progress, &QProgressBar::valueChanged, this, [&](int value) { percents << value; });
        runCommand(command, clickOk);
        QVERIFY(WaitForJobEnd(m_frame.get()));
        disconnect(connection);
        QVERIFY(!percents.isEmpty());
        QCOMPARE(percents.first(), 0);
        QCOMPARE(percents.last(), 100);
        QVERIFY2(!LogText(*m_frame).contains(Catalogue(IDS_JOB_CANCELLED)), qPrintable(LogText(*m_frame)));
        if (command == ID_UNPACK_PROJECT) {
            QCOMPARE(ReadFile(folder.filePath(QStringLiteral("deck.KMX"))), bytes);
        }
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

    // Test says whether a packed file or set is sound, as the console's test does, and writes
    // nothing; a missing volume is asked for, and a chosen file that is already one of the set
    // is refused with the reason before the right one is taken.
    void testSaysWhetherSound_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("single packed file") << "" << true << "%1: sound. The stream is complete";
        QTest::newRow("set with its manifest") << "manifest" << true << "%1: sound. A set of %2 volumes";
        QTest::newRow("set, a volume moved away") << "move" << true << "%1: sound. A set of %2 volumes";
        QTest::newRow("set, a volume changed behind its manifest")
            << "changed" << false << "' does not match its checksum in '";
        QTest::newRow("cut short") << "cut" << false << "%1: damaged. The stream ends before its end code";
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
            QVERIFY(WriteSetManifest(packed.toStdString(), "deck.kmx",
                                     QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString()));
        }
        const QString moved = folder.filePath(QStringLiteral("moved/deck.2KX"));
        if (change == QStringLiteral("move")) {
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("moved")));
            QVERIFY(QFile::rename(folder.filePath(QStringLiteral("deck.2KX")), moved));
            Modal::Reset();
            Modal::SetNextAnswer(IDOK);                                   // find it yourself?
            Modal::SetNextFileName(folder.filePath(QStringLiteral("deck.1KX"))); // one of the set
            Modal::SetNextAnswer(IDOK);                                   // the reason, read
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
        expected.replace(QStringLiteral("%1"), packed).replace(QStringLiteral("%2"), QString::number(volumes));
        QVERIFY2(log.contains(expected), qPrintable(log));
        QVERIFY2(log.endsWith(Catalogue(sound ? IDS_TEST_SOUND_END : IDS_TEST_NOT_SOUND_END)), qPrintable(log));
        QCOMPARE(FolderContents(folder.path()), before);
        QCOMPARE(m_frame->View()->FileNameField()->text(), packed);
        if (change == QStringLiteral("manifest")) {
            QVERIFY2(log.contains(QStringLiteral("files of the set and the restored project file match")), qPrintable(log));
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
            QVERIFY2(refusal.text.contains(folder.filePath(QStringLiteral("deck.1KX"))), qPrintable(refusal.text));
        }
    }

private:
    void checkProposal(int command, const QString& field, const QString& proposal)
    {
        m_frame->View()->FileNameField()->setText(field);
        QString shown;
        bool okEnabled = true;
        bool fieldHasFocus = false;
        runCommand(command, [&](QDialog& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            shown = edit->text();
            okEnabled = dialog.findChild<QPushButton*>(QStringLiteral("ok"))->isEnabled();
            fieldHasFocus = dialog.focusWidget() == edit;
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(shown, proposal);
        QCOMPARE(okEnabled, !proposal.isEmpty());
        QVERIFY(fieldHasFocus);
        // Cancelled: the form keeps its text.
        QCOMPARE(m_frame->View()->FileNameField()->text(), field);
    }

    // Starts a pack of project by the engine alone, as a test prepares its files: split into
    // volumes of volumeSize bytes when split is set.
    int startPack(const QString& project, bool split, int volumeSize)
    {
        PackRequest request;
        request.strProjectPath = project.toStdString();
        request.bSplitFile = split;
        request.nVolumeSize = volumeSize;
        return StartPackJob(request, m_setupPack);
    }

    void runCommand(int command, std::function<int(QDialog&)> script)
    {
        bool ran = false;
        Modal::SetNextModal([&](QDialog& dialog) {
            ran = true;
            const int result = script(dialog);
            m_lastResults << result;
            return result;
        });
        m_frame->Action(command)->trigger();
        QVERIFY(ran);
    }

    std::unique_ptr<CMainFrame> m_frame;
    QTemporaryDir m_folder;
    QTemporaryDir m_settings;
    QString m_startFolder;
    QList<int> m_lastResults;
    PackOutcome m_setupPack; // the outcome of startPack's job, which outlives it
};

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
