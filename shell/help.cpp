#include "shell/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/images.h"
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

} // namespace

QString GetModuleDirectory()
{
    return ProgramFolderFor(QCoreApplication::applicationDirPath());
}

QString ProgramFolderFor(const QString& exeFolder)
{
    if (QFileInfo(exeFolder).fileName() == QLatin1String("bin")) {
        const QString shared = QDir(exeFolder).absoluteFilePath(QStringLiteral("../share/packtool"));
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
    // Reading text: a size up from the dialogs' small font.
    QFont readingFont = DialogFont();
    readingFont.setPointSize(10);
    m_browser->setFont(readingFont);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);
    resize(620, 520);
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

void ShowHelpFinder(QWidget* owner)
{
    const QString path = GetModuleDirectory() + Text(IDS_HELP_FILE);
    CHelpViewer* viewer = CHelpViewer::Of(owner);
    if (viewer == nullptr) {
        viewer = new CHelpViewer(owner);
    }
    viewer->OpenContents(path);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}
