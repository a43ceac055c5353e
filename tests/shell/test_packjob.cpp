// A real pack job started from the window's side: its log lines and its progress reach the
// form in the order the job writes them, the state and the wait cursor follow it, and a box
// the worker asks for is owned by the main window.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "engine/jobcontext.h"
#include "engine/packjob.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "resources/textids.h"
#include "shell/ids.h"
#include "shell/mainframe.h"
#include "shell/modal.h"
#include "shell/qthost.h"
#include "shell/view.h"

namespace {

QString Catalogue(unsigned id)
{
    return QString::fromStdString(LoadString(id))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Project data that compresses, but not to nothing: text lines with running numbers.
QByteArray ProjectBytes(int size)
{
    QByteArray bytes;
    for (qint64 line = 0; bytes.size() < size; ++line) {
        bytes += "beam " + QByteArray::number(line) + " span " +
                 QByteArray::number(line * 7919 % 1000) + " load " +
                 QByteArray::number(line * 104729 % 65536) + "\n";
    }
    bytes.truncate(size);
    return bytes;
}

} // namespace

class PackJobTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SetLanguage(Language::English);
        Modal::SetScriptedOnly(true);
        m_frame = std::make_unique<CMainFrame>();
        QtMainWindowHost::Instance().Attach(m_frame.get());
        m_frame->View()->OnInitialUpdate();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanupTestCase()
    {
        QtMainWindowHost::Instance().Attach(nullptr);
        m_frame.reset();
    }

    void logAndProgressArriveInOrder()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("bridge.kmx"));
        const int projectSize = 200000;
        {
            QFile file(project);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ProjectBytes(projectSize));
        }

        // Everything the user sees, in the order it appears.
        QStringList seen;
        QPlainTextEdit* log = m_frame->View()->StatusLog();
        QProgressBar* progress = m_frame->View()->Progress();
        progress->setValue(0);
        log->clear();
        int logLength = 0;
        auto logConnection = connect(log, &QPlainTextEdit::textChanged, this, [&] {
            const QString text = log->toPlainText();
            seen << QStringLiteral("log:") + text.mid(logLength);
            logLength = int(text.size());
        });
        QList<int> percents;
        auto progressConnection =
            connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
                percents << value;
                if (seen.isEmpty() || !seen.last().startsWith(QStringLiteral("progress"))) {
                    seen << QStringLiteral("progress");
                }
            });
        QStringList panes;
        int busyWhileCompressing = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (panes.isEmpty() || panes.last() != m_frame->PaneText()) {
                panes << m_frame->PaneText();
            }
            if (g_nJobState == JOB_COMPRESSING && !m_frame->Action(ID_PACK_PROJECT)->isEnabled()) {
                ++busyWhileCompressing;
            }
        });
        watch.start(0);

        QCOMPARE(startPack(project), 1);
        QTRY_VERIFY_WITH_TIMEOUT(RunningWorkerThreads() == 0 && g_nJobState == JOB_IDLE, 30000);
        QCoreApplication::processEvents();
        watch.stop();
        disconnect(logConnection);
        disconnect(progressConnection);

        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("bridge.0KX"))));
        const qint64 packedSize = QFileInfo(folder.filePath(QStringLiteral("bridge.0KX"))).size();
        const QString report =
            QString::fromStdString(FormatSizeReport(projectSize, quint64(packedSize)))
                .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(log->toPlainText(), Catalogue(IDS_PACK_START) + QStringLiteral("\n") + report +
                                         QStringLiteral("\n") + Catalogue(IDS_PACK_END));

        // The banner, then the progress of the compression, then the report and the end.
        const QStringList expected = {QStringLiteral("log:") + Catalogue(IDS_PACK_START),
                                      QStringLiteral("progress"),
                                      QStringLiteral("log:\n"),
                                      QStringLiteral("log:") + report,
                                      QStringLiteral("log:\n"),
                                      QStringLiteral("log:") + Catalogue(IDS_PACK_END)};
        QCOMPARE(seen, expected);
        QVERIFY(percents.size() >= 10);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QCOMPARE(percents.last(), 100);

        QVERIFY(panes.contains(QStringLiteral("Compressing file...")));
        QCOMPARE(panes.last(), QStringLiteral("Ready"));
        QVERIFY(busyWhileCompressing > 0);
        QVERIFY(m_frame->Action(ID_PACK_PROJECT)->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(Modal::Shown().empty());
    }

    // Packing again asks about the existing packed file, on the main thread and again on the
    // worker, each box owned by the main window; Cancel on the worker ends the job.
    void overwriteQuestionsComeFromTheMainWindow()
    {
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        const QString packed = folder.filePath(QStringLiteral("deck.0KX"));
        for (const QString& path : {project, packed}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ProjectBytes(5000));
        }
        Modal::Reset();
        Modal::SetNextAnswer(IDCANCEL);
        m_frame->View()->ClearLog();

        QCOMPARE(startPack(project), 1);
        QTRY_VERIFY_WITH_TIMEOUT(RunningWorkerThreads() == 0 && g_nJobState == JOB_IDLE, 30000);
        QCoreApplication::processEvents();

        const QString question = QString::fromStdString(LoadString(IDS_OVERWRITE_QUESTION))
                                     .replace(QStringLiteral("%s"), packed);
        QCOMPARE(Modal::Shown().size(), size_t(1)); // asked once, by the job
        for (const Modal::Record& box : Modal::Shown()) {
            QCOMPARE(box.text, question);
            QCOMPARE(box.type, unsigned(MB_OKCANCEL | MB_ICONEXCLAMATION));
            QCOMPARE(box.owner, m_frame.get());
        }
        QCOMPARE(m_frame->View()->StatusLog()->toPlainText(), Catalogue(IDS_PACK_START) +
                                                                  Catalogue(IDS_ABORTED_BY_USER) +
                                                                  Catalogue(IDS_PACK_END));
        QCOMPARE(m_frame->PaneText(), QStringLiteral("Ready"));
    }

private:
    // Starts a pack of project by the engine alone, as one file, into m_pack.
    int startPack(const QString& project)
    {
        PackRequest request;
        request.projectPath = project.toStdString();
        request.volumeSize = 1440000;
        return StartPackJob(request, m_pack);
    }

    std::unique_ptr<CMainFrame> m_frame;
    PackOutcome m_pack; // the outcome of startPack's job, which outlives it
};

QTEST_MAIN(PackJobTest)
#include "test_packjob.moc"
