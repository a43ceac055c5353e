// What the desktop program remembers between runs, per user (QSettings, in the user's
// configuration folder): the last file and folder, the split choice of the Pack dialog, and
// the main window's place and size.
#pragma once

#include <QRect>
#include <QString>

namespace Settings {

// The file named in the form when a job last started (or the window last closed).
QString LastFile();
void SetLastFile(const QString& path);

// The folder of the file last chosen or worked on: where the Browse choosers open.
QString LastFolder();
void SetLastFolder(const QString& folder);

// The Pack dialog's Separate File box and disk-size index as they were at its last OK.
struct SplitChoice {
    bool separate = false;
    int diskSizeIndex = 0;
};
SplitChoice LastSplit();
void SetLastSplit(const SplitChoice& choice);

// The Pack dialog's Write checksums box as it was at its last OK.
bool WriteChecksums();
void SetWriteChecksums(bool on);

// The Pack dialog's Recovery disks (0, 1 or 2) as they were at its last OK.
int RecoveryDisks();
void SetRecoveryDisks(int disks);

// The main window's normal geometry (without the frame the desktop draws), or an empty
// rectangle when none was saved.
QRect WindowGeometry();
void SetWindowGeometry(const QRect& geometry);

} // namespace Settings
