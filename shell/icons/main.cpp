// packtool-icons: writes the application icon as PNG files for the desktop's icon theme.
// Usage: packtool-icons OUTPUT_FOLDER SIZE... writes OUTPUT_FOLDER/SIZExSIZE/packtool.png for
// each size, drawn by the same code that draws the window's icon.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "shell/images.h"

int main(int argc, char** argv)
{
    // No display is needed to draw into a picture; the build may run without one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: packtool-icons OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "packtool-icons: not a size: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString path = output.filePath(folder + QStringLiteral("/packtool.png"));
        const QPixmap picture = DrawAppIcon(size);
        if (!output.mkpath(folder) || picture.width() != size || picture.height() != size ||
            !picture.save(path, "PNG")) {
            std::fprintf(stderr, "packtool-icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
