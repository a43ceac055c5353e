#include "shell/lockkeys.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

const QString kLedFolder = QStringLiteral("/sys/class/leds");

QStringList LedFiles(LockKey key)
{
    const QString suffix = key == LockKey::Caps  ? QStringLiteral("::capslock")
                           : key == LockKey::Num ? QStringLiteral("::numlock")
                                                 : QStringLiteral("::scrolllock");
    QStringList files;
    const QStringList leds =
        QDir(kLedFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& led : leds) {
        if (led.endsWith(suffix)) {
            files << kLedFolder + QLatin1Char('/') + led + QStringLiteral("/brightness");
        }
    }
    return files;
}

} // namespace

bool IsLockKeyOn(LockKey key)
{
    // Keyboards come and go, so the folder is listed each time; it holds a handful of entries.
    for (const QString& path : LedFiles(key)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray value = file.readAll().trimmed();
            if (!value.isEmpty() && value != "0") {
                return true;
            }
        }
    }
    return false;
}
