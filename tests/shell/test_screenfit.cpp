// A window's restored place and size brought onto the screen: off the screen, larger than the
// screen (saved at another scale), and before the desktop has drawn the window's frame. Also
// runs at a scale of 2.
#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>
#include <QtTest>

#include "shell/screenfit.h"

namespace {

QString Describe(const QRect& r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class ScreenFitTest : public QObject {
    Q_OBJECT

private slots:
    void restoredGeometryComesOnScreen_data()
    {
        const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<bool>("shown");
        QTest::newRow("whole screen, before the frame") << free << false;
        QTest::newRow("off to the right and below")
            << QRect(free.right() + 500, free.bottom() + 500, free.width() / 2, free.height() / 2)
            << false;
        QTest::newRow("above and left of the screen")
            << QRect(free.left() - 900, free.top() - 900, free.width() / 2, free.height() / 2)
            << false;
        QTest::newRow("twice the screen, saved at a smaller scale")
            << QRect(free.topLeft(), free.size() * 2) << false;
        QTest::newRow("bottom edge under the screen's")
            << QRect(free.left() + 10, free.bottom() - free.height() / 2, free.width() / 2,
                     free.height() / 2 + 20)
            << false;
        QTest::newRow("twice the screen, window shown")
            << QRect(free.topLeft(), free.size() * 2) << true;
    }

    // The whole window comes onto the free area of the screen, its bottom edge (status bar and
    // size grip) included; before the window is shown, room is left for the title bar above it
    // and a border below it, which the desktop adds.
    void restoredGeometryComesOnScreen()
    {
        QFETCH(QRect, saved);
        QFETCH(bool, shown);
        QMainWindow window;
        window.statusBar()->setSizeGripEnabled(true);
        window.setMinimumSize(120, 80);
        if (shown) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        const QRect free = window.screen()->availableGeometry();
        const QRect fitted = FitOnScreen(window, saved);
        QVERIFY2(free.contains(fitted), qPrintable(Describe(fitted) + " on " + Describe(free)));
        if (!shown) {
            const int titleBar = window.fontMetrics().height();
            QVERIFY2(fitted.top() - free.top() >= titleBar, qPrintable(Describe(fitted)));
            QVERIFY2(free.bottom() - fitted.bottom() >= 2, qPrintable(Describe(fitted)));
        }
        // Nothing is made much smaller than the screen asks for: only the frame's room is taken.
        QVERIFY(fitted.width() >= std::min(saved.width(), free.width() * 9 / 10));
        QVERIFY(fitted.height() >= std::min(saved.height(), free.height() * 8 / 10));
    }

    // A window already whole on the screen stays where it is, at its size.
    void windowOnScreenStays()
    {
        const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
        QMainWindow window;
        window.setMinimumSize(100, 60);
        const QRect saved(free.left() + 40, free.top() + 50, free.width() / 3, free.height() / 3);
        QCOMPARE(FitOnScreen(window, saved), saved);
    }

    // A secondary window's size is held to the screen's free area.
    void sizeHeldToTheScreen()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QSize free = screen->availableGeometry().size();
        const QSize large = FitSizeOnScreen(QSize(5000, 5000), screen);
        QVERIFY(large.width() < free.width() && large.height() < free.height());
        QVERIFY(large.width() >= free.width() * 8 / 10 && large.height() >= free.height() * 8 / 10);
        QCOMPARE(FitSizeOnScreen(QSize(100, 80), screen), QSize(100, 80));
        QCOMPARE(FitSizeOnScreen(QSize(100, 80), nullptr), QSize(100, 80));
    }
};

QTEST_MAIN(ScreenFitTest)
#include "test_screenfit.moc"
