#include "shell/modal.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <deque>

#include "platform/mainwindow.h"
#include "resources/textids.h"
#include "shell/texts.h"

namespace Modal {
namespace {

struct Script {
    std::deque<int> answers;
    std::deque<QStringList> fileNames;
    std::deque<std::function<int(QDialog&)>> dialogs;
    std::vector<Record> shown;
    bool scriptedOnly = false;
};

Script& TheScript()
{
    static Script script;
    return script;
}

// While a job shows the wait cursor, a box needs the normal pointer to be answered.
class NormalPointer {
public:
    NormalPointer() : m_active(QApplication::overrideCursor() != nullptr)
    {
        if (m_active) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~NormalPointer()
    {
        if (m_active) {
            QApplication::restoreOverrideCursor();
        }
    }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;

private:
    bool m_active;
};

} // namespace

int MessageBox(QWidget* owner, const QString& text, unsigned type, const QString& okText,
               const QString& cancelText)
{
    Script& script = TheScript();
    const bool okCancel = (type & 0x0F) == MB_OKCANCEL;
    script.shown.push_back({Record::Box, text, type, owner, QString(), QString()});
    if (!script.answers.empty()) {
        int answer = script.answers.front();
        script.answers.pop_front();
        return answer;
    }
    if (script.scriptedOnly) {
        return okCancel ? IDCANCEL : IDOK;
    }

    NormalPointer pointer;
    QMessageBox box(owner);
    box.setWindowTitle(Text(IDS_FRAMEWORK_TITLE));
    box.setText(text);
    box.setIcon((type & 0xF0) == MB_ICONEXCLAMATION ? QMessageBox::Warning : QMessageBox::NoIcon);
    QPushButton* ok =
        box.addButton(okText.isEmpty() ? Text(IDS_DLG_OK) : okText, QMessageBox::AcceptRole);
    // "Yes to all" between OK and Cancel, for a question that stands for several files.
    QPushButton* all = nullptr;
    if (okCancel && (type & MB_YESTOALL) != 0) {
        all = box.addButton(Text(IDS_DLG_YES_TO_ALL), QMessageBox::YesRole);
    }
    QPushButton* cancel = nullptr;
    if (okCancel) {
        cancel = box.addButton(cancelText.isEmpty() ? Text(IDS_DLG_CANCEL) : cancelText,
                               QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    if (all != nullptr && box.clickedButton() == all) {
        return IDYESTOALL;
    }
    if (okCancel && box.clickedButton() != ok) {
        return IDCANCEL;
    }
    return IDOK;
}

namespace {

enum class ChooserKind {
    Open,
    OpenMany,
    Save,
    Folder
};

// Every chooser: the scripted answer if a test gave one, else the real chooser.
QStringList ChooseFiles(QWidget* owner, const QString& folder, const QString& initialName,
                        const QString& filter, ChooserKind kind, const QString& defaultSuffix,
                        const QString& title = QString())
{
    Script& script = TheScript();
    script.shown.push_back(
        {Record::Chooser, folder + QLatin1Char('|') + initialName, 0, owner, filter, title});
    QStringList chosen;
    if (!script.fileNames.empty()) {
        chosen = script.fileNames.front();
        script.fileNames.pop_front();
    } else if (!script.scriptedOnly) {
        NormalPointer pointer;
        QFileDialog chooser(owner, title, folder.isEmpty() ? QDir::currentPath() : folder, filter);
        switch (kind) {
        case ChooserKind::Open: chooser.setFileMode(QFileDialog::ExistingFile); break;
        case ChooserKind::OpenMany: chooser.setFileMode(QFileDialog::ExistingFiles); break;
        case ChooserKind::Save:
            chooser.setFileMode(QFileDialog::AnyFile);
            chooser.setAcceptMode(QFileDialog::AcceptSave);
            break;
        case ChooserKind::Folder:
            chooser.setFileMode(QFileDialog::Directory);
            chooser.setOption(QFileDialog::ShowDirsOnly);
            break;
        }
        chooser.setDefaultSuffix(defaultSuffix);
        if (!initialName.isEmpty()) {
            chooser.selectFile(initialName);
        }
        if (chooser.exec() == QDialog::Accepted) {
            chosen = chooser.selectedFiles();
        }
    }
    QStringList paths;
    for (const QString& path : chosen) {
        if (!path.isEmpty()) {
            paths << QFileInfo(path).absoluteFilePath();
        }
    }
    return paths;
}

QString ChooseFile(QWidget* owner, const QString& folder, const QString& initialName,
                   const QString& filter, ChooserKind kind, const QString& defaultSuffix,
                   const QString& title = QString())
{
    const QStringList chosen =
        ChooseFiles(owner, folder, initialName, filter, kind, defaultSuffix, title);
    return chosen.isEmpty() ? QString() : chosen.constFirst();
}

} // namespace

QString OpenFileName(QWidget* owner, const QString& folder, const QString& initialName,
                     const QString& filter, const QString& defaultSuffix, const QString& title)
{
    return ChooseFile(owner, folder, initialName, filter, ChooserKind::Open, defaultSuffix, title);
}

QStringList OpenFileNames(QWidget* owner, const QString& folder, const QString& filter)
{
    return ChooseFiles(owner, folder, QString(), filter, ChooserKind::OpenMany, QString());
}

QString SaveFileName(QWidget* owner, const QString& folder, const QString& initialName,
                     const QString& filter)
{
    return ChooseFile(owner, folder, initialName, filter, ChooserKind::Save, QStringLiteral("txt"));
}

QString FolderName(QWidget* owner, const QString& folder, const QString& title)
{
    return ChooseFile(owner, folder, QString(), QString(), ChooserKind::Folder, QString(), title);
}

int RunDialog(QDialog& dialog)
{
    Script& script = TheScript();
    script.shown.push_back(
        {Record::Dialog, dialog.windowTitle(), 0, dialog.parentWidget(), QString(), QString()});
    if (!script.dialogs.empty()) {
        std::function<int(QDialog&)> run = std::move(script.dialogs.front());
        script.dialogs.pop_front();
        dialog.setModal(true);
        dialog.show();
        int result = run(dialog);
        dialog.hide();
        return result;
    }
    if (script.scriptedOnly) {
        return QDialog::Rejected;
    }
    NormalPointer pointer;
    return dialog.exec();
}

void SetNextAnswer(int answer)
{
    TheScript().answers.push_back(answer);
}

void SetNextFileName(const QString& path)
{
    TheScript().fileNames.push_back(path.isEmpty() ? QStringList() : QStringList{path});
}

void SetNextFileNames(const QStringList& paths)
{
    TheScript().fileNames.push_back(paths);
}

void SetNextModal(std::function<int(QDialog&)> script)
{
    TheScript().dialogs.push_back(std::move(script));
}

void SetScriptedOnly(bool on)
{
    TheScript().scriptedOnly = on;
}

std::vector<Record>& Shown()
{
    return TheScript().shown;
}

void Reset()
{
    Script& script = TheScript();
    script.answers.clear();
    script.fileNames.clear();
    script.dialogs.clear();
    script.shown.clear();
}

} // namespace Modal
