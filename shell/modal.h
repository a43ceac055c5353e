// Every modal box, file chooser and dialog of the program is run through here.
//
// The program uses the real windows. A test scripts the next answers beforehand
// (SetNextAnswer, SetNextFileName, SetNextModal) and reads what would have been shown from
// Shown(), so no test ever sits in a nested modal loop. With SetScriptedOnly(true) a box that
// nobody scripted is recorded and answered Cancel instead of waiting for a user.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace Modal {

// A modal message box owned by owner and captioned with the application title (57344).
// type: MB_OK or MB_OKCANCEL combined with an icon (platform/mainwindow.h), and MB_YESTOALL for
// a "Yes to all" button. Answers IDOK, IDCANCEL or IDYESTOALL. The wait cursor gives way to the
// normal pointer while the box is up.
// okText and cancelText, when given, name the two buttons for what they do.
int MessageBox(QWidget* owner, const QString& text, unsigned type,
               const QString& okText = QString(), const QString& cancelText = QString());

// A modal open-file chooser starting in folder (the current folder when empty) with the
// initial file name and the Qt name filter. Answers the chosen full path, or an empty text
// when cancelled. The current folder is not changed: the program names every file by its
// full path.
// title, when given, replaces the chooser's own caption.
QString OpenFileName(QWidget* owner, const QString& folder, const QString& initialName,
                     const QString& filter, const QString& defaultSuffix = QString(),
                     const QString& title = QString());

// The same chooser for one or more existing files: answers every chosen full path, in the
// order chosen, or none when cancelled. Scripted by SetNextFileName or SetNextFileNames.
QStringList OpenFileNames(QWidget* owner, const QString& folder, const QString& filter);

// A modal chooser of a folder, starting in folder, with the caption title. Answers the chosen
// folder's full path, or an empty text when cancelled. Scripted like the file choosers.
QString FolderName(QWidget* owner, const QString& folder, const QString& title);

// A modal save-file chooser starting in folder (the current folder when empty) with the
// initial file name; it asks before replacing an existing file. Answers the chosen full path,
// or an empty text when cancelled. The current folder is not changed.
QString SaveFileName(QWidget* owner, const QString& folder, const QString& initialName,
                     const QString& filter);

// Runs a dialog modally and answers its result (QDialog::Accepted or Rejected).
int RunDialog(QDialog& dialog);

// What was shown (or would have been), in order.
struct Record {
    enum Kind {
        Box,
        Chooser,
        Dialog
    } kind;
    QString text;  // the box's text; the chooser's folder + "|" + initial name; the dialog's title
    unsigned type; // the box's style; 0 for the others
    QWidget* owner;
    QString filter; // the chooser's filter
    QString title;  // the chooser's caption, when it has one of its own
};

// Test seam.
void SetNextAnswer(int answer);
void SetNextFileName(const QString& path);       // also a folder; an empty path cancels the chooser
void SetNextFileNames(const QStringList& paths); // several files at once; none cancels
// The script gets the dialog, already shown, and answers its result (e.g. after clicking OK).
void SetNextModal(std::function<int(QDialog&)> script);
void SetScriptedOnly(bool on);
std::vector<Record>& Shown();
void Reset();

} // namespace Modal
