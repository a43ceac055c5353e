// CZUNPackView: the form in the main frame (IDD_MAIN_FORM): the File Name field, the Status log
// and the progress bar, placed in dialog units converted from the dialog font's metrics.
#pragma once

#include <QFrame>
#include <QHash>
#include <QRect>

#include "shell/dialogunits.h"
#include "shell/screenfit.h"

class QFontMetrics;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class CZUNPackView : public QFrame {
    Q_OBJECT
public:
    explicit CZUNPackView(QWidget* parent = nullptr);

    // Places and sizes the main frame around the form: at a quarter of the screen's width and
    // height from its top-left corner, just large enough for the whole form, and never off the
    // screen. Runs at start-up and again after New.
    void OnInitialUpdate();

    // The form's classic size in pixels (the area inside the sunken border), its default.
    QSize FormSize() const { return m_formSize; }
    QSize sizeHint() const override;
    // The form's controls by their ids (IDC_FILE_NAME, IDC_STATUS_LOG, IDC_PROGRESS).
    QWidget* Control(int id) const;
    QLineEdit* FileNameField() const { return m_fileName; }
    QPlainTextEdit* StatusLog() const { return m_statusLog; }
    QProgressBar* Progress() const { return m_progress; }
    // Cancel, beside the bar: enabled while a job runs.
    QPushButton* CancelButton() const { return m_cancel; }
    // The queue: each file of several queued at once, with its state. Above the log, which
    // gives it room, and only while shown (ShowQueue): one file has no list.
    QTreeWidget* QueueList() const { return m_queue; }
    void ShowQueue(bool shown);

    // Appends to the Status log at its end and scrolls there; no line break is added.
    void AppendToLog(const QString& text);
    // Empties the Status log.
    void ClearLog();

    // The Status log's context menu: Copy puts the whole log on the clipboard, Save Log...
    // writes it to a text file the user chooses. The log itself stays read-only. The mouse's
    // right button, the Menu key and Shift+F10 in the log open it.
    QMenu* CreateLogMenu(QWidget* parent);
    void CopyLog();
    void SaveLog();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Opens the log's menu at globalPos; the menu deletes itself when it closes.
    void OpenLogMenu(const QPoint& globalPos);
    // The controls where the form's size puts them, the queue above the log when shown.
    void LayOut();

    QWidget* m_form = nullptr;
    QLineEdit* m_fileName = nullptr;
    QPlainTextEdit* m_statusLog = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QTreeWidget* m_queue = nullptr;
    QLabel* m_queueLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QSize m_formSize;
    QSize m_minimumGrowth;
    // Every control's place in the classic form; resizing starts from there.
    QHash<QWidget*, QRect> m_classicGeometry;
};
