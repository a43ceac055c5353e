// What the window tests share: the files and logs they look at, waiting for a job's end, and
// one fixture that gives each test a fresh main window as the host of the jobs, with settings
// of its own and scripted boxes.
#pragma once

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

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Text lines with running numbers: they compress to about a third.
inline QByteArray ProjectBytes(int size)
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
inline bool WaitForJobEnd(const CMainFrame* frame = nullptr)
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
inline QMap<QString, QByteArray> FolderContents(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        contents.insert(QDir(folder).relativeFilePath(path), ReadFile(path));
    }
    return contents;
}

inline QString LogText(CMainFrame& frame)
{
    return frame.View()->StatusLog()->toPlainText();
}

inline void ClearSettings()
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("packtool"),
              QStringLiteral("packtool"))
        .clear();
}

inline QString Catalogue(unsigned id)
{
    return QString::fromStdString(LoadString(id))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Chooses the disk size by its label, wherever the list shows it.
inline void SelectDiskSize(CPackProjectDlg& dialog, const QString& label)
{
    QComboBox* list = dialog.DiskSizeList();
    const int row = list->findText(label);
    QVERIFY2(row >= 0, qPrintable(label));
    list->setCurrentIndex(row);
}

class WindowFixture {
protected:
    // Once for the test program: English, boxes answered only by script, settings of its own.
    void SetUpProgram()
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

    // Before each test: fresh settings and boxes, and a new main window as the jobs' host.
    void SetUpWindow()
    {
        ClearSettings();
        Modal::Reset();
        m_lastResults.clear();
        // No cancel request left by the test before, which would stop the files' preparation.
        ClearCancelRequest();
        SetLanguage(Language::English);
        m_frame = std::make_unique<CMainFrame>();
        QtMainWindowHost::Instance().Attach(m_frame.get());
        m_frame->View()->OnInitialUpdate();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    // After each test: the job has ended, the window is gone, the folder and the language are
    // as they were.
    void TearDownWindow()
    {
        QVERIFY(WaitForJobEnd());
        QtMainWindowHost::Instance().Attach(nullptr);
        m_frame.reset();
        QDir::setCurrent(m_startFolder);
        SetLanguage(Language::English);
    }

    // Opens the command's dialog on field and cancels it: the dialog proposed proposal, with OK
    // enabled only for a name, and the form kept its text.
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
        request.projectPath = project.toStdString();
        request.split = split;
        request.volumeSize = volumeSize;
        return StartPackJob(request, m_setupPack);
    }

    // Triggers the command; script plays the user in its dialog and answers its result.
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
