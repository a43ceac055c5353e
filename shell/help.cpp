#include "shell/help.h"

#include <QCoreApplication>
#include <climits>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTextBlock>
#include <QAbstractTextDocumentLayout>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/images.h"
#include "shell/screenfit.h"
#include "shell/texts.h"

namespace {

// The viewer's own words, as any help viewer has its own, in the language of the program.
QString MissingDocumentMessage(const QString& path)
{
    if (CurrentLanguage() == Language::Japanese) {
        return QStringLiteral("<h3>ﾍﾙﾌﾟﾌｧｲﾙが見つかりません</h3><p>%1</p>"
                              "<p>ﾍﾙﾌﾟﾌｧｲﾙをﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞに置いてください。</p>")
            .arg(path.toHtmlEscaped());
    }
    return QStringLiteral("<h3>The help file could not be opened</h3><p>%1</p>"
                          "<p>Put the help file into the program's folder and try again.</p>")
        .arg(path.toHtmlEscaped());
}

const char kViewerProperty[] = "packtoolHelpViewer";

// Text made comparable: each character in its compatibility form (half-width katakana and
// full-width Latin as their usual forms, a voiced katakana as its base and mark) and without
// letter case; origin holds, for every character of text, the position it comes from.
struct FoldedText {
    QString text;
    QList<int> origin;
};

FoldedText Fold(const QString& source)
{
    FoldedText folded;
    folded.text.reserve(source.size());
    folded.origin.reserve(source.size());
    for (int i = 0; i < source.size();) {
        const int length = source.at(i).isHighSurrogate() && i + 1 < source.size() &&
                                   source.at(i + 1).isLowSurrogate()
                               ? 2
                               : 1;
        const QString piece =
            source.mid(i, length).normalized(QString::NormalizationForm_KD).toCaseFolded();
        for (const QChar c : piece) {
            folded.text += c;
            folded.origin.append(i);
        }
        i += length;
    }
    return folded;
}

// A heading of the document that starts a topic, and where it starts.
struct Topic {
    QString title;
    int start;
};

QList<Topic> TopicsOf(const QTextDocument& document, const QString& documentTitle)
{
    QList<Topic> topics;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 1 || level == 2) {
            topics.append({block.text().trimmed(), block.position()});
        }
    }
    if (topics.isEmpty() || topics.first().start > 0) {
        topics.prepend({documentTitle, 0});
    }
    return topics;
}

} // namespace

QString GetModuleDirectory()
{
    return ProgramFolderFor(QCoreApplication::applicationDirPath());
}

QString ProgramFolderFor(const QString& exeFolder)
{
    if (QFileInfo(exeFolder).fileName() == QLatin1String("bin")) {
        const QString shared =
            QDir(exeFolder).absoluteFilePath(QStringLiteral("../share/packtool"));
        if (QFileInfo(shared).isDir()) {
            return QDir::cleanPath(shared) + QLatin1Char('/');
        }
    }
    return exeFolder + QLatin1Char('/');
}

CHelpViewer::CHelpViewer(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("helpViewer"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(AppIcon());
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setOpenExternalLinks(true);
    m_browser->setAccessibleName(Text(IDS_ACC_HELP_TEXT));

    // The viewer's buttons: Back and Forward through the topics read, Contents, Close.
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(6, 6, 6, 6);
    auto makeButton = [&](unsigned textId, const char* name) {
        auto* button = new QPushButton(Text(textId), this);
        button->setObjectName(QLatin1String(name));
        button->setAutoDefault(false);
        buttons->addWidget(button);
        return button;
    };
    m_back = makeButton(IDS_HELP_BACK, "helpBack");
    m_forward = makeButton(IDS_HELP_FORWARD, "helpForward");
    m_contents = makeButton(IDS_HELP_CONTENTS, "helpContents");
    buttons->addStretch(1);
    m_close = makeButton(IDS_HELP_CLOSE, "helpClose");
    m_back->setEnabled(false);
    m_forward->setEnabled(false);
    connect(m_back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QPushButton::setEnabled);
    connect(m_contents, &QPushButton::clicked, this, &CHelpViewer::ShowContents);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    // The search: words typed are looked for at once; Enter and F3 go to the next place,
    // Shift+F3 to the one before; Ctrl+F comes back to the field. The topics found are listed
    // beside the text, and choosing one shows its first place.
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(6, 0, 6, 6);
    auto* searchLabel = new QLabel(Text(IDS_HELP_SEARCH_LABEL), this);
    searchLabel->setObjectName(QStringLiteral("helpSearchLabel"));
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("helpSearch"));
    m_search->setClearButtonEnabled(true);
    m_search->setPlaceholderText(Text(IDS_HELP_SEARCH_FIELD));
    m_search->setAccessibleName(Text(IDS_HELP_SEARCH_FIELD));
    searchLabel->setBuddy(m_search);
    m_previous = makeButton(IDS_HELP_SEARCH_PREVIOUS, "helpFindPrevious");
    m_next = makeButton(IDS_HELP_SEARCH_NEXT, "helpFindNext");
    m_searchResult = new QLabel(this);
    m_searchResult->setObjectName(QStringLiteral("helpSearchResult"));
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(m_search, 1);
    searchRow->addWidget(m_previous);
    searchRow->addWidget(m_next);
    searchRow->addWidget(m_searchResult);
    m_previous->setEnabled(false);
    m_next->setEnabled(false);
    m_topics = new QListWidget(this);
    m_topics->setObjectName(QStringLiteral("helpTopicsFound"));
    m_topics->setAccessibleName(Text(IDS_HELP_SEARCH_TOPICS));
    connect(m_search, &QLineEdit::textChanged, this, &CHelpViewer::Search);
    connect(m_search, &QLineEdit::returnPressed, this, &CHelpViewer::FindNext);
    connect(m_next, &QPushButton::clicked, this, &CHelpViewer::FindNext);
    connect(m_previous, &QPushButton::clicked, this, &CHelpViewer::FindPrevious);
    connect(m_topics, &QListWidget::itemActivated, this, &CHelpViewer::ShowTopicFound);
    connect(m_topics, &QListWidget::itemClicked, this, &CHelpViewer::ShowTopicFound);
    auto* findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    auto* nextKey = new QShortcut(QKeySequence::FindNext, this);
    connect(nextKey, &QShortcut::activated, this, &CHelpViewer::FindNext);
    auto* previousKey = new QShortcut(QKeySequence::FindPrevious, this);
    connect(previousKey, &QShortcut::activated, this, &CHelpViewer::FindPrevious);
    // Another topic or document loaded: the places are marked in what is shown now.
    // The view stays where the link took it; the next place is found from the start.
    connect(m_browser, &QTextBrowser::sourceChanged, this,
            [this] { FindPlaces(m_search->text()); });

    // Reading text: a size up from the dialogs' small font.
    QFont readingFont = DialogFont();
    readingFont.setPointSize(10);
    m_browser->setFont(readingFont);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("helpSplit"));
    split->setChildrenCollapsible(false);
    split->addWidget(m_topics);
    split->addWidget(m_browser);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(buttons);
    layout->addLayout(searchRow);
    layout->addWidget(split, 1);
    // The reading size, but never more than the screen holds: at a scale of 2 a small
    // screen has room for far fewer pixels.
    QScreen* screen = owner != nullptr && owner->screen() != nullptr
                          ? owner->screen()
                          : QGuiApplication::primaryScreen();
    resize(FitSizeOnScreen(QSize(620, 540), screen));
    split->setSizes({width() / 4, width() - width() / 4});
    if (owner != nullptr) {
        owner->setProperty(kViewerProperty, QVariant::fromValue(static_cast<QObject*>(this)));
    }
}

CHelpViewer* CHelpViewer::Of(QWidget* owner)
{
    if (owner == nullptr) {
        return nullptr;
    }
    return qobject_cast<CHelpViewer*>(owner->property(kViewerProperty).value<QObject*>());
}

void CHelpViewer::OpenContents(const QString& path)
{
    m_path = path;
    QFile file(path);
    m_hasDocument = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
    if (m_hasDocument) {
        file.close();
        // Loaded as a source, so the links within it go into the viewer's history.
        m_browser->clearHistory();
        m_browser->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                             QTextDocument::HtmlResource);
        m_browser->scrollToAnchor(QStringLiteral("contents"));
        const QString title = m_browser->documentTitle();
        setWindowTitle(title.isEmpty() ? Text(IDS_FRAMEWORK_TITLE) : title);
    } else {
        m_browser->setHtml(MissingDocumentMessage(path));
        setWindowTitle(Text(IDS_FRAMEWORK_TITLE));
    }
}

void CHelpViewer::ShowContents()
{
    if (!m_hasDocument) {
        return;
    }
    QUrl contents = QUrl::fromLocalFile(QFileInfo(m_path).absoluteFilePath());
    contents.setFragment(QStringLiteral("contents"));
    m_browser->setSource(contents, QTextDocument::HtmlResource);
}

void CHelpViewer::Search(const QString& words)
{
    FindPlaces(words);
    if (!m_found.isEmpty()) {
        SelectFound(0);
    }
}

void CHelpViewer::FindPlaces(const QString& words)
{
    m_found.clear();
    m_current = -1;
    m_topics->clear();
    const QString wanted = Fold(words.simplified()).text;
    QTextDocument* document = m_browser->document();
    if (!wanted.isEmpty()) {
        const QString plain = document->toPlainText();
        const FoldedText folded = Fold(plain);
        for (qsizetype at = folded.text.indexOf(wanted); at >= 0;
             at = folded.text.indexOf(wanted, at + wanted.size())) {
            const int start = folded.origin.at(at);
            const int last = folded.origin.at(at + wanted.size() - 1);
            const int end = last + (plain.at(last).isHighSurrogate() ? 2 : 1);
            m_found.append({start, end});
        }
        // The topics in the order of the document, each with its first place and its count.
        const QList<Topic> topics = TopicsOf(*document, windowTitle());
        int place = 0;
        for (int t = 0; t < topics.size(); ++t) {
            const int topicEnd = t + 1 < topics.size() ? topics.at(t + 1).start : INT_MAX;
            const int first = place;
            while (place < m_found.size() && m_found.at(place).start < topicEnd) {
                ++place;
            }
            if (place > first) {
                auto* item = new QListWidgetItem(
                    QStringLiteral("%1 (%2)").arg(topics.at(t).title).arg(place - first), m_topics);
                item->setData(Qt::UserRole, first);
            }
        }
    }
    MarkFound();
    m_next->setEnabled(!m_found.isEmpty());
    m_previous->setEnabled(!m_found.isEmpty());
    if (wanted.isEmpty()) {
        m_searchResult->clear();
    } else if (m_found.isEmpty()) {
        m_searchResult->setText(Text(IDS_HELP_SEARCH_NONE));
    } else {
        m_searchResult->setText(
            Text(IDS_HELP_SEARCH_COUNT).arg(m_found.size()).arg(m_topics->count()));
    }
}

void CHelpViewer::MarkFound()
{
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 255, 0));
    marked.setForeground(QColor(0, 0, 0));
    for (const Place& place : m_found) {
        QTextCursor cursor(m_browser->document());
        cursor.setPosition(place.start);
        cursor.setPosition(place.end, QTextCursor::KeepAnchor);
        marks.append({cursor, marked});
    }
    m_browser->setExtraSelections(marks);
}

void CHelpViewer::SelectFound(int index)
{
    m_current = index;
    const Place& place = m_found.at(index);
    QTextCursor cursor(m_browser->document());
    cursor.setPosition(place.start);
    cursor.setPosition(place.end, QTextCursor::KeepAnchor);
    m_browser->setTextCursor(cursor);
    // The document is laid out a piece at a time after it loads; the place must be laid out
    // before the view can be scrolled to it.
    m_browser->document()->documentLayout()->blockBoundingRect(cursor.block());
    m_browser->ensureCursorVisible();
    m_searchResult->setText(Text(IDS_HELP_SEARCH_COUNT)
                                .arg(QStringLiteral("%1/%2").arg(index + 1).arg(m_found.size()))
                                .arg(m_topics->count()));
    // The topic of the place selected is the one chosen in the list.
    for (int row = m_topics->count() - 1; row >= 0; --row) {
        if (m_topics->item(row)->data(Qt::UserRole).toInt() <= index) {
            const QSignalBlocker quiet(m_topics);
            m_topics->setCurrentRow(row);
            break;
        }
    }
}

bool CHelpViewer::FindNext()
{
    if (m_found.isEmpty()) {
        return false;
    }
    SelectFound(m_current + 1 < m_found.size() ? m_current + 1 : 0);
    return true;
}

bool CHelpViewer::FindPrevious()
{
    if (m_found.isEmpty()) {
        return false;
    }
    SelectFound(m_current > 0 ? m_current - 1 : int(m_found.size()) - 1);
    return true;
}

void CHelpViewer::ShowTopicFound(QListWidgetItem* item)
{
    if (item != nullptr) {
        SelectFound(item->data(Qt::UserRole).toInt());
    }
}

void ShowHelpFinder(QWidget* owner)
{
    const QString path = GetModuleDirectory() + Text(IDS_HELP_FILE);
    CHelpViewer* viewer = CHelpViewer::Of(owner);
    if (viewer == nullptr) {
        viewer = new CHelpViewer(owner);
        // Over the middle of its owner, and whole on the screen.
        if (owner != nullptr) {
            QRect placed(QPoint(0, 0), viewer->size());
            placed.moveCenter(owner->window()->geometry().center());
            viewer->setGeometry(FitOnScreen(*viewer, placed));
        }
    }
    viewer->OpenContents(path);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}
