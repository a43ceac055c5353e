#include "shell/settings.h"

#include <QSettings>

namespace Settings {
namespace {

QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("packtool"),
                     QStringLiteral("packtool"));
}

} // namespace

QString LastFile()
{
    return Store().value(QStringLiteral("files/lastFile")).toString();
}

void SetLastFile(const QString& path)
{
    Store().setValue(QStringLiteral("files/lastFile"), path);
}

QString LastFolder()
{
    return Store().value(QStringLiteral("files/lastFolder")).toString();
}

void SetLastFolder(const QString& folder)
{
    Store().setValue(QStringLiteral("files/lastFolder"), folder);
}

SplitChoice LastSplit()
{
    QSettings store = Store();
    SplitChoice choice;
    choice.separate = store.value(QStringLiteral("pack/separateFile"), false).toBool();
    const int index = store.value(QStringLiteral("pack/diskSizeIndex"), 0).toInt();
    // Only the four sizes of the list; anything else (an edited file) is the first.
    choice.diskSizeIndex = index >= 0 && index <= 3 ? index : 0;
    return choice;
}

void SetLastSplit(const SplitChoice& choice)
{
    QSettings store = Store();
    store.setValue(QStringLiteral("pack/separateFile"), choice.separate);
    store.setValue(QStringLiteral("pack/diskSizeIndex"), choice.diskSizeIndex);
}

bool WriteChecksums()
{
    return Store().value(QStringLiteral("pack/writeChecksums"), false).toBool();
}

void SetWriteChecksums(bool on)
{
    Store().setValue(QStringLiteral("pack/writeChecksums"), on);
}

int RecoveryDisks()
{
    const int disks = Store().value(QStringLiteral("pack/recoveryDisks"), 0).toInt();
    // Only the three choices of the list; anything else (an edited file) is none.
    return disks >= 0 && disks <= 2 ? disks : 0;
}

void SetRecoveryDisks(int disks)
{
    Store().setValue(QStringLiteral("pack/recoveryDisks"), disks);
}

QRect WindowGeometry()
{
    return Store().value(QStringLiteral("window/geometry")).toRect();
}

void SetWindowGeometry(const QRect& geometry)
{
    Store().setValue(QStringLiteral("window/geometry"), geometry);
}

} // namespace Settings
