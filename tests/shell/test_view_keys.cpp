// The main form from the keyboard alone: the File Name field's editing keys, Tab into the Status
// log and the keys that scroll it, and the log's menu opened by Shift+F10 and the Menu key.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "engine/jobcontext.h"
#include "platform/strings.h"
#include "shell/mainframe.h"
#include "shell/modal.h"
#include "shell/qthost.h"
#include "shell/view.h"

class ViewKeysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SetLanguage(Language::English);
        Modal::SetScriptedOnly(true);
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }

    void init()
    {
        Modal::Reset();
        m_frame = std::make_unique<CMainFrame>();
        QtMainWindowHost::Instance().Attach(m_frame.get());
        m_frame->View()->OnInitialUpdate();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QApplication::setActiveWindow(m_frame.get());
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        m_frame->JobStateChanged(JOB_IDLE);
    }

    void cleanup()
    {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        QtMainWindowHost::Instance().Attach(nullptr);
        m_frame.reset();
    }

    // Each editing key does in the field what it does in any text field. The field starts
    // with "/data/a.kmx" and its last "a.kmx" selected, the clipboard with "b.0KX".
    void editingKeysWorkInTheField_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("Ctrl+V pastes")
            << int(Qt::Key_V) << int(Qt::ControlModifier) << "/data/b.0KX"
            << "b.0KX";
        QTest::newRow("Ctrl+X cuts") << int(Qt::Key_X) << int(Qt::ControlModifier) << "/data/"
                                     << "a.kmx";
        QTest::newRow("Ctrl+C copies")
            << int(Qt::Key_C) << int(Qt::ControlModifier) << "/data/a.kmx"
            << "a.kmx";
        QTest::newRow("Shift+Insert pastes")
            << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "/data/b.0KX"
            << "b.0KX";
        QTest::newRow("Shift+Delete cuts")
            << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << "/data/"
            << "a.kmx";
    }

    void editingKeysWorkInTheField()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QLineEdit* field = m_frame->View()->FileNameField();
        field->setFocus();
        field->setText(QStringLiteral("/data/a.kmx"));
        field->setSelection(6, 5);
        QApplication::clipboard()->setText(QStringLiteral("b.0KX"));
        QTest::keyClick(field, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTEST(field->text(), "text");
        QTEST(QApplication::clipboard()->text(), "clipboard");
    }

    // Ctrl+Z takes back typing and a paste, step by step; Ctrl+Shift+Z and Ctrl+Y redo.
    void undoTakesBackTypingAndPaste()
    {
        QLineEdit* field = m_frame->View()->FileNameField();
        field->setFocus();
        field->setText(QStringLiteral("/data/a.kmx"));
        field->end(false);
        QApplication::clipboard()->setText(QStringLiteral(".bak"));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx.bak"));
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx"));
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx.bak"));
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace, Qt::AltModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx"));
        QTest::keyClick(field, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("/data/a.kmx.bak"));
    }

    // Tab goes from the field into the log and out again; in the log the keys scroll it, and
    // the log stays read-only.
    void tabReachesTheLogAndKeysScrollIt()
    {
        CZUNPackView* view = m_frame->View();
        QPlainTextEdit* log = view->StatusLog();
        for (int line = 0; line < 200; ++line) {
            view->AppendToLog(QStringLiteral("line %1\n").arg(line));
        }
        QScrollBar* bar = log->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        QLineEdit* field = view->FileNameField();
        field->setFocus();
        QVERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY2(log->hasFocus(), qPrintable(QApplication::focusWidget() == nullptr
                                                 ? QStringLiteral("no focus")
                                                 : QApplication::focusWidget()->objectName()));

        QTest::keyClick(log, Qt::Key_PageUp);
        QVERIFY(bar->value() < bar->maximum());
        QTest::keyClick(log, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->minimum());
        QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        const QString before = log->toPlainText();
        QTest::keyClicks(log, QStringLiteral("typed"));
        QTest::keyClick(log, Qt::Key_Backspace);
        QCOMPARE(log->toPlainText(), before);

        QTest::keyClick(log, Qt::Key_Tab, Qt::ShiftModifier);
        QVERIFY(field->hasFocus());
        QCOMPARE(log->toPlainText(), before);
    }

    // Shift+F10 and the Menu key open the log's Copy/Save menu, which the keys then work.
    void keysOpenTheLogMenu_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
        QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    }

    void keysOpenTheLogMenu()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        CZUNPackView* view = m_frame->View();
        QPlainTextEdit* log = view->StatusLog();
        view->AppendToLog(QStringLiteral("Packing a.kmx\nComplete\n"));
        log->setFocus();
        QApplication::clipboard()->clear();
        QTest::keyClick(log, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->objectName(), QStringLiteral("statusLogMenu"));
        QVERIFY(log->rect().contains(log->mapFromGlobal(menu->pos())));
        // Down to Copy and Enter: the whole log is on the clipboard.
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_COMPARE(QApplication::clipboard()->text(),
                     QStringLiteral("Packing a.kmx\nComplete\n"));
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    }

private:
    QTemporaryDir m_settings;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(ViewKeysTest)
#include "test_view_keys.moc"
