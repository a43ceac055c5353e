// Help: the help documents beside the program, shown at their contents in the program's own
// help viewer window.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTextBrowser;

// The program's folder, ending in "/": the folder of the executable when it runs from its
// build folder, or the installation's share/packtool when the executable sits in a "bin"
// folder that has one beside it (help documents and the sample "database" folder live there,
// not in bin/).
QString GetModuleDirectory();
// The same for an executable in exeFolder.
QString ProgramFolderFor(const QString& exeFolder);

// Opens the help document of the current language (string 1234) from the program's folder
// in the help viewer owned by owner (the main frame, or a dialog asking with F1), at its
// contents. A missing document is reported by the viewer itself.
void ShowHelpFinder(QWidget* owner);

// The help viewer: one per owner, reused for every request from that owner.
class CHelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit CHelpViewer(QWidget* owner);

    // Shows the document at its contents, or the viewer's message when it cannot be read.
    void OpenContents(const QString& path);
    QString Path() const { return m_path; }
    QTextBrowser* Browser() const { return m_browser; }
    // True when the document was found and shown.
    bool HasDocument() const { return m_hasDocument; }
    // Back to the document's contents, as a step the Back button can undo.
    void ShowContents();

    // The viewer that owner has open, or null.
    static CHelpViewer* Of(QWidget* owner);

    // Search: every place in the document where words stand is marked, the topics they are
    // in are listed, and the first place is selected. Letter case does not count, nor the
    // width of katakana and Latin letters (ﾌｧｲﾙ is found as ファイル, ＡＢＣ as abc). Empty words
    // clear the search.
    void Search(const QString& words);
    // The next or the previous place found, from the one selected, round at either end.
    // False when nothing was found.
    bool FindNext();
    bool FindPrevious();
    // The places found, as [start, end) positions in the document, in document order.
    struct Place {
        int start;
        int end;
    };
    const QList<Place>& Found() const { return m_found; }
    QLineEdit* SearchField() const { return m_search; }
    // One row per topic with a place found: the topic's heading, and how many places it has.
    QListWidget* FoundTopics() const { return m_topics; }

private:
    // Finds and marks the places and lists their topics, and selects none.
    void FindPlaces(const QString& words);
    void SelectFound(int index);
    void ShowTopicFound(QListWidgetItem* item);
    void MarkFound();

    QTextBrowser* m_browser;
    QPushButton* m_back;
    QPushButton* m_forward;
    QPushButton* m_contents;
    QPushButton* m_close;
    QLineEdit* m_search;
    QPushButton* m_next;
    QPushButton* m_previous;
    QLabel* m_searchResult;
    QListWidget* m_topics;
    QList<Place> m_found;
    int m_current = -1;
    QString m_path;
    bool m_hasDocument = false;
};
