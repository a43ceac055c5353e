#include "shell/view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QHeaderView>
#include <QTreeWidget>
#include <QResizeEvent>
#include <algorithm>

#include "platform/mainwindow.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/ids.h"
#include "shell/modal.h"
#include "shell/screenfit.h"
#include "shell/texts.h"

namespace {

// The keys that open a context menu from the keyboard: the Menu key and Shift+F10.
bool IsContextMenuKey(const QKeyEvent* key)
{
    const QKeyCombination combination = key->keyCombination();
    return combination == QKeyCombination(Qt::NoModifier, Qt::Key_Menu) ||
           combination == QKeyCombination(Qt::ShiftModifier, Qt::Key_F10);
}

} // namespace

CZUNPackView::CZUNPackView(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("mainForm"));
    // The form's client edge and static edge: a sunken border around the controls.
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(2);
    setFont(DialogFont());

    const bool japanese = CurrentLanguage() == Language::Japanese;
    const DialogUnits du = DialogUnits::FromFont(QFontMetrics(font()));
    m_form = new QWidget(this);
    m_form->setObjectName(QStringLiteral("formArea"));

    struct Placed {
        int en[4];
        int ja[4];
    };
    auto place = [&](QWidget* control, const Placed& at) {
        const int* r = japanese ? at.ja : at.en;
        control->setGeometry(du.Rect(r[0], r[1], r[2], r[3]));
    };

    auto* fileLabel = new QLabel(Text(IDS_FORM_FILE_NAME), m_form);
    fileLabel->setObjectName(QStringLiteral("fileNameLabel"));
    fileLabel->setAlignment((japanese ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignTop);
    place(fileLabel, {{2, 7, 41, 10}, {2, 7, 33, 10}});

    m_fileName = new QLineEdit(m_form);
    m_fileName->setObjectName(QStringLiteral("fileName"));
    m_fileName->setProperty("controlId", int(IDC_FILE_NAME));
    m_fileName->installEventFilter(this);
    m_fileName->setAccessibleName(Text(IDS_FORM_FILE_NAME));
    // A file dropped here names the file (the frame takes the drop), never adds to the text.
    m_fileName->setAcceptDrops(false);
    place(m_fileName, {{44, 4, 207, 15}, {38, 4, 207, 15}});

    auto* statusLabel = new QLabel(Text(IDS_FORM_STATUS), m_form);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAlignment((japanese ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignTop);
    place(statusLabel, {{3, 27, 39, 11}, {11, 27, 22, 11}});
    m_statusLabel = statusLabel;

    // The queue's list takes the top of the log's place while several files are queued; its
    // label stands where the log's does, which moves down with the log.
    m_queueLabel = new QLabel(Text(IDS_QUEUE_LABEL), m_form);
    m_queueLabel->setObjectName(QStringLiteral("queueLabel"));
    m_queueLabel->setAlignment((japanese ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignTop);
    m_queueLabel->setWordWrap(false);
    m_queue = new QTreeWidget(m_form);
    m_queue->setObjectName(QStringLiteral("queue"));
    m_queue->setColumnCount(2);
    m_queue->setHeaderLabels({Text(IDS_QUEUE_FILE), Text(IDS_QUEUE_STATE)});
    m_queue->setRootIsDecorated(false);
    m_queue->setUniformRowHeights(true);
    m_queue->setSelectionMode(QAbstractItemView::SingleSelection);
    m_queue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_queue->setFocusPolicy(Qt::StrongFocus);
    m_queue->setAccessibleName(WithoutMnemonic(Text(IDS_QUEUE_LABEL)));
    m_queue->setAcceptDrops(false);
    m_queue->header()->setStretchLastSection(false);
    m_queue->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_queue->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_queueLabel->setBuddy(m_queue);
    m_queue->hide();
    m_queueLabel->hide();

    m_statusLog = new QPlainTextEdit(m_form);
    m_statusLog->setObjectName(QStringLiteral("statusLog"));
    m_statusLog->setProperty("controlId", int(IDC_STATUS_LOG));
    m_statusLog->setReadOnly(true);
    m_statusLog->setUndoRedoEnabled(false);
    m_statusLog->setMaximumBlockCount(0); // no limit on the log's length
    m_statusLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_statusLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_statusLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_statusLog->installEventFilter(this);
    m_statusLog->setAccessibleName(Text(IDS_FORM_STATUS));
    m_statusLog->setAcceptDrops(false);
    // The log takes the keyboard focus by Tab and by a click, so the keys (arrows, Page Up and
    // Down, Ctrl+Home and Ctrl+End) scroll it and a screen reader reads it; Tab leaves it again
    // rather than being typed into it.
    m_statusLog->setFocusPolicy(Qt::StrongFocus);
    m_statusLog->setTabChangesFocus(true);
    m_statusLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_statusLog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_statusLog, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { OpenLogMenu(m_statusLog->viewport()->mapToGlobal(pos)); });
    place(m_statusLog, {{44, 26, 207, 103}, {38, 26, 207, 103}});

    m_progress = new QProgressBar(m_form);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setProperty("controlId", int(IDC_PROGRESS));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(Text(IDS_FORM_PROGRESS));
    // The bar leaves room at its right for Cancel, which stops the running job.
    place(m_progress, {{45, 134, 157, 14}, {39, 134, 163, 14}});

    m_cancel = new QPushButton(Text(IDS_DLG_CANCEL), m_form);
    m_cancel->setObjectName(QStringLiteral("cancelJob"));
    m_cancel->setAccessibleName(Text(IDS_DLG_CANCEL));
    m_cancel->setEnabled(false);
    m_cancel->setFocusPolicy(Qt::NoFocus);
    place(m_cancel, {{206, 134, 46, 14}, {206, 134, 40, 14}});

    auto* progressLabel = new QLabel(Text(IDS_FORM_PROGRESS), m_form);
    progressLabel->setObjectName(QStringLiteral("progressLabel"));
    progressLabel->setAlignment((japanese ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignTop);
    place(progressLabel, {{3, 137, 40, 11}, {13, 137, 21, 11}});

    // Dialog 101 is 258 x 155 units in both languages: the form's size by default. The form
    // may grow (the field, the log and the bar with it) and shrink down to a log of a few
    // lines and a field of a third of its width.
    m_formSize = QSize(du.X(258), du.Y(155));
    m_minimumGrowth = QSize(-du.X(120), -du.Y(70));
    for (QWidget* control : m_form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        m_classicGeometry.insert(control, control->geometry());
    }
    const int border = frameWidth();
    m_form->setGeometry(border, border, m_formSize.width(), m_formSize.height());
    setMinimumSize(m_formSize + m_minimumGrowth + QSize(2 * border, 2 * border));
    setTabOrder(m_fileName, m_queue);
    setTabOrder(m_queue, m_statusLog);
}

QSize CZUNPackView::sizeHint() const
{
    const int border = frameWidth();
    return m_formSize + QSize(2 * border, 2 * border);
}

void CZUNPackView::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    LayOut();
}

void CZUNPackView::LayOut()
{
    const int border = frameWidth();
    m_form->setGeometry(border, border, width() - 2 * border, height() - 2 * border);
    // The classic layout, with what the form has gained: the field and the bar grow to the
    // right, the log grows both ways, and the bar and its label move down under it.
    const int dx = m_form->width() - m_formSize.width();
    const int dy = m_form->height() - m_formSize.height();
    for (auto it = m_classicGeometry.cbegin(); it != m_classicGeometry.cend(); ++it) {
        QWidget* control = it.key();
        QRect r = it.value();
        if (control == m_fileName) {
            r.setWidth(r.width() + dx);
        } else if (control == m_statusLog) {
            r.setSize(r.size() + QSize(dx, dy));
        } else if (control == m_progress) {
            r.translate(0, dy);
            r.setWidth(r.width() + dx);
        } else if (control->objectName() == QLatin1String("progressLabel")) {
            r.translate(0, dy);
        } else if (control == m_cancel) {
            r.translate(dx, dy);
        }
        control->setGeometry(r);
    }
    if (m_queue->isHidden()) {
        return;
    }
    // The queue above the log: as tall as its rows (header included), but never more than
    // two fifths of the log's place, so that the log stays usable; it scrolls beyond that.
    const QRect logPlace = m_statusLog->geometry();
    const int frame = 2 * m_queue->frameWidth();
    const int row = std::max(m_queue->sizeHintForRow(0), m_queue->fontMetrics().height() + 4);
    const int rows = std::max(2, m_queue->topLevelItemCount());
    const int wanted = m_queue->header()->sizeHint().height() + rows * row + frame;
    const int height = std::min(wanted, logPlace.height() * 2 / 5);
    const int gap = m_fileName->geometry().top();
    m_queue->setGeometry(logPlace.x(), logPlace.y(), logPlace.width(), height);
    m_statusLog->setGeometry(logPlace.adjusted(0, height + gap, 0, 0));
    const QRect label = m_statusLabel->geometry();
    m_queueLabel->setGeometry(label);
    m_statusLabel->setGeometry(label.translated(0, height + gap));
}

void CZUNPackView::ShowQueue(bool shown)
{
    m_queue->setVisible(shown);
    m_queueLabel->setVisible(shown);
    LayOut();
}

QWidget* CZUNPackView::Control(int id) const
{
    switch (id) {
    case IDC_FILE_NAME: return m_fileName;
    case IDC_STATUS_LOG: return m_statusLog;
    case IDC_PROGRESS: return m_progress;
    default: return nullptr;
    }
}

void CZUNPackView::OnInitialUpdate()
{
    auto* frame = qobject_cast<QMainWindow*>(window());
    if (frame != nullptr) {
        // The classic size: exactly the menu, toolbar, form and status bar, at a quarter of
        // the screen from its top-left corner; moved and shrunk where that would leave part
        // of the window off the screen (a small screen, a large scale).
        if (frame->isMaximized() || frame->isFullScreen()) {
            frame->showNormal();
        }
        QScreen* screen =
            frame->screen() != nullptr ? frame->screen() : QApplication::primaryScreen();
        QRect placed(QPoint(0, 0), frame->sizeHint());
        if (screen != nullptr) {
            // The quarter point is where the window's frame begins; the client area is inside.
            const QRect desktop = screen->geometry();
            const QPoint frameOffset =
                frame->geometry().topLeft() - frame->frameGeometry().topLeft();
            placed.moveTopLeft(QPoint(desktop.x() + (desktop.right() + 1 - desktop.x()) / 4,
                                      desktop.y() + (desktop.bottom() + 1 - desktop.y()) / 4) +
                               frameOffset);
        }
        frame->setGeometry(FitOnScreen(*frame, placed));
    }
}

void CZUNPackView::AppendToLog(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.remove(QLatin1Char('\r'));
    QTextCursor cursor(m_statusLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(lines);
    m_statusLog->setTextCursor(cursor);
    m_statusLog->ensureCursorVisible();
}

void CZUNPackView::ClearLog()
{
    m_statusLog->clear();
}

QMenu* CZUNPackView::CreateLogMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("statusLogMenu"));
    QAction* copy = menu->addAction(Text(IDS_LOG_COPY), this, &CZUNPackView::CopyLog);
    copy->setObjectName(QStringLiteral("copyLog"));
    QAction* save = menu->addAction(Text(IDS_LOG_SAVE), this, &CZUNPackView::SaveLog);
    save->setObjectName(QStringLiteral("saveLog"));
    const bool empty = m_statusLog->document()->isEmpty();
    copy->setEnabled(!empty);
    save->setEnabled(!empty);
    return menu;
}

void CZUNPackView::CopyLog()
{
    QGuiApplication::clipboard()->setText(m_statusLog->toPlainText());
}

void CZUNPackView::SaveLog()
{
    const QString path = Modal::SaveFileName(window(), QString(), Text(IDS_LOG_SAVE_NAME),
                                             FilterFromCatalogue(IDS_LOG_SAVE_FILTER));
    if (path.isEmpty()) {
        return;
    }
    // Written beside its final name and renamed at the end: an old file of that name is
    // replaced only by the whole log.
    QSaveFile file(path);
    QString text = m_statusLog->toPlainText();
    if (!text.endsWith(QLatin1Char('\n'))) {
        text += QLatin1Char('\n');
    }
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        QString message = Text(IDS_LOG_SAVE_FAILED);
        message.replace(QStringLiteral("%s"), path);
        Modal::MessageBox(window(), message, MB_OK | MB_ICONEXCLAMATION);
    }
}

void CZUNPackView::OpenLogMenu(const QPoint& globalPos)
{
    QMenu* menu = CreateLogMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

bool CZUNPackView::eventFilter(QObject* watched, QEvent* event)
{
    // The log's menu from the keyboard opens at the log's top-left corner, inside it.
    if (watched == m_statusLog && event->type() == QEvent::KeyPress &&
        IsContextMenuKey(static_cast<QKeyEvent*>(event))) {
        OpenLogMenu(m_statusLog->viewport()->mapToGlobal(QPoint(4, 4)));
        event->accept();
        return true;
    }
    // The keys of the window's commands (Ctrl+U among them, which a line edit would take to
    // delete its line) reach the commands, also from the field.
    if (watched == m_fileName && event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* action : window()->findChildren<QAction*>()) {
            if (!action->shortcut().isEmpty() && action->shortcut() == pressed) {
                event->ignore();
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}
