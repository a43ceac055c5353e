// The help viewer's search, in both languages: the places found are marked and listed by
// topic, Next and Previous go round them, and the viewer fits the screen (this test also runs
// at a scale of 2).
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

#include "platform/strings.h"
#include "shell/help.h"

namespace {

QString DocumentPath(Language language)
{
    return GetModuleDirectory() +
           QLatin1String(language == Language::Japanese ? "jpzunpak.hlp" : "enzunpak.hlp");
}

// The text of the document between two positions.
QString TextAt(QTextBrowser* browser, int start, int end)
{
    return browser->document()->toPlainText().mid(start, end - start);
}

// The heading (h1 or h2) that the position lies under.
QString TopicAt(QTextBrowser* browser, int position)
{
    QString topic;
    for (QTextBlock block = browser->document()->begin();
         block.isValid() && block.position() <= position; block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 1 || level == 2) {
            topic = block.text().trimmed();
        }
    }
    return topic;
}

QStringList ListedTopics(const CHelpViewer& viewer)
{
    QStringList topics;
    for (int row = 0; row < viewer.FoundTopics()->count(); ++row) {
        topics << viewer.FoundTopics()->item(row)->text();
    }
    return topics;
}

} // namespace

class HelpSearchTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetLanguage(Language::English); }

    // Words typed are found wherever they stand, without regard to case or to the width of
    // the katakana; every place is marked, the first one selected, and its topic listed.
    void wordsAreFoundAcrossTopics_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("matches"); // what every place found reads, folded to lower case
        QTest::addColumn<QString>("topic");   // a topic that must be listed
        QTest::newRow("English, other case") << int(Language::English) << "CHECKSUM"
                                             << "checksum"
                                             << "Testing a packed file";
        QTest::newRow("English, option") << int(Language::English) << "--threads"
                                         << "--threads"
                                         << "The command line";
        QTest::newRow("English, two words") << int(Language::English) << "write  checksums"
                                            << "write checksums"
                                            << "The main window";
        QTest::newRow("Japanese, full-width katakana") << int(Language::Japanese) << "チェックサム"
                                                       << "ﾁｪｯｸｻﾑ"
                                                       << "圧縮ﾌｧｲﾙのﾃｽﾄ";
        QTest::newRow("Japanese, voiced katakana") << int(Language::Japanese) << "ダイアログ"
                                                   << "ﾀﾞｲｱﾛｸﾞ"
                                                   << "ﾌﾟﾛｼﾞｪｸﾄﾌｧｲﾙの圧縮";
        QTest::newRow("Japanese, option") << int(Language::Japanese) << "--lang"
                                          << "--lang"
                                          << "ｺﾏﾝﾄﾞﾗｲﾝ";
    }

    void wordsAreFoundAcrossTopics()
    {
        QFETCH(int, language);
        QFETCH(QString, words);
        QFETCH(QString, matches);
        QFETCH(QString, topic);
        SetLanguage(Language(language));
        CHelpViewer viewer(nullptr);
        viewer.OpenContents(DocumentPath(Language(language)));
        QVERIFY(viewer.HasDocument());
        QTextBrowser* browser = viewer.Browser();

        viewer.SearchField()->setText(words);
        const QList<CHelpViewer::Place> found = viewer.Found();
        QVERIFY(!found.isEmpty());
        QStringList topicsOfPlaces;
        for (const CHelpViewer::Place& place : found) {
            QCOMPARE(TextAt(browser, place.start, place.end).simplified().toLower(), matches);
            if (!topicsOfPlaces.contains(TopicAt(browser, place.start))) {
                topicsOfPlaces << TopicAt(browser, place.start);
            }
        }
        QCOMPARE(browser->extraSelections().size(), found.size());
        QCOMPARE(browser->textCursor().selectionStart(), found.first().start);
        QCOMPARE(browser->textCursor().selectionEnd(), found.first().end);
        // One row per topic that has a place, in the document's order, with its count.
        const QStringList listed = ListedTopics(viewer);
        QCOMPARE(listed.size(), topicsOfPlaces.size());
        for (int row = 0; row < listed.size(); ++row) {
            QVERIFY2(listed.at(row).startsWith(topicsOfPlaces.at(row) + QLatin1String(" (")),
                     qPrintable(listed.at(row)));
        }
        QVERIFY2(topicsOfPlaces.contains(topic), qPrintable(topicsOfPlaces.join(QLatin1Char('|'))));
    }

    // Words that stand nowhere find nothing and say so; clearing the field clears the marks.
    void nothingFoundAndCleared()
    {
        CHelpViewer viewer(nullptr);
        viewer.OpenContents(DocumentPath(Language::English));
        viewer.SearchField()->setText(QStringLiteral("xyzzy"));
        QVERIFY(viewer.Found().isEmpty());
        QCOMPARE(viewer.FoundTopics()->count(), 0);
        QCOMPARE(viewer.findChild<QLabel*>(QStringLiteral("helpSearchResult"))->text(),
                 QStringLiteral("Not found"));
        QVERIFY(!viewer.findChild<QPushButton*>(QStringLiteral("helpFindNext"))->isEnabled());
        QVERIFY(!viewer.FindNext());

        viewer.SearchField()->setText(QStringLiteral("volume"));
        QVERIFY(!viewer.Found().isEmpty());
        QVERIFY(!viewer.Browser()->extraSelections().isEmpty());
        viewer.SearchField()->clear();
        QVERIFY(viewer.Found().isEmpty());
        QVERIFY(viewer.Browser()->extraSelections().isEmpty());
        QCOMPARE(viewer.FoundTopics()->count(), 0);
    }

    // Next and Previous (the buttons, Enter, F3 and Shift+F3) go round the places; choosing a
    // topic selects its first place.
    void nextPreviousAndTopics()
    {
        CHelpViewer viewer(nullptr);
        viewer.OpenContents(DocumentPath(Language::English));
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QTextBrowser* browser = viewer.Browser();
        auto selected = [&] { return browser->textCursor().selectionStart(); };
        viewer.SearchField()->setFocus();
        QTest::keyClicks(viewer.SearchField(), QStringLiteral("volume"));
        const QList<CHelpViewer::Place> found = viewer.Found();
        QVERIFY(found.size() >= 3);
        QCOMPARE(selected(), found.at(0).start);

        // Each place selected is scrolled into view, also one far down a document just loaded.
        auto inView = [&] { return browser->viewport()->rect().contains(browser->cursorRect()); };
        QVERIFY(inView());
        viewer.FindPrevious();
        QCOMPARE(selected(), found.last().start);
        QVERIFY(inView());
        viewer.FindNext();
        QTest::keyClick(viewer.SearchField(), Qt::Key_Return);
        QCOMPARE(selected(), found.at(1).start);
        QVERIFY(inView());
        QTest::keyClick(&viewer, Qt::Key_F3);
        QCOMPARE(selected(), found.at(2).start);
        QTest::keyClick(&viewer, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(selected(), found.at(1).start);
        QTest::mouseClick(viewer.findChild<QPushButton*>(QStringLiteral("helpFindPrevious")),
                          Qt::LeftButton);
        QCOMPARE(selected(), found.at(0).start);
        QTest::mouseClick(viewer.findChild<QPushButton*>(QStringLiteral("helpFindPrevious")),
                          Qt::LeftButton);
        QCOMPARE(selected(), found.last().start);
        QTest::mouseClick(viewer.findChild<QPushButton*>(QStringLiteral("helpFindNext")),
                          Qt::LeftButton);
        QCOMPARE(selected(), found.at(0).start);

        QListWidget* topics = viewer.FoundTopics();
        QVERIFY(topics->isVisible());
        QVERIFY(topics->count() >= 2);
        QListWidgetItem* last = topics->item(topics->count() - 1);
        QTest::mouseClick(topics->viewport(), Qt::LeftButton, {},
                          topics->visualItemRect(last).center());
        QVERIFY(last->text().startsWith(TopicAt(browser, selected()) + QLatin1String(" (")));
        int firstOfTopic = 0;
        while (TopicAt(browser, found.at(firstOfTopic).start) != TopicAt(browser, selected())) {
            ++firstOfTopic;
        }
        QCOMPARE(selected(), found.at(firstOfTopic).start);
        // Ctrl+F comes back to the field with its words selected, ready for new ones.
        browser->setFocus();
        QTest::keyClick(&viewer, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(viewer.SearchField()->hasFocus());
        QCOMPARE(viewer.SearchField()->selectedText(), QStringLiteral("volume"));
    }

    // The viewer, opened as the program opens it, lies whole on the screen's free area.
    void viewerFitsTheScreen_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void viewerFitsTheScreen()
    {
        QFETCH(int, language);
        SetLanguage(Language(language));
        QWidget owner;
        owner.resize(300, 200);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        ShowHelpFinder(&owner);
        CHelpViewer* viewer = CHelpViewer::Of(&owner);
        QVERIFY(viewer != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        const QRect free = viewer->screen()->availableGeometry();
        QVERIFY2(free.contains(viewer->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                .arg(viewer->frameGeometry().x())
                                .arg(viewer->frameGeometry().y())
                                .arg(viewer->frameGeometry().width())
                                .arg(viewer->frameGeometry().height())
                                .arg(free.width())
                                .arg(free.height())));
        viewer->close();
    }
};

QTEST_MAIN(HelpSearchTest)
#include "test_help_search.moc"
