// Direct frame-buffer access on the virtual frame buffer: geometry in every rotation, visible
// regions, and that the memory behaves like the screen's (blits shown, erases erase). Run a
// second time on Qt's linuxfb platform over the simulated panel: there the windows over the
// viewfinder and the panel's own memory, line length and pixel layout are checked; and on X
// servers of 16 and 24 bits, where what the server shows is checked too.
#include "support/panelmemory.h"
#include "platform/directpainter.h"
#include "platform/virtualscreen.h"

#include <QApplication>
#include <QBackingStore>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <cstring>
#include <memory>

namespace {

constexpr quint16 red = 0xf800;
constexpr quint16 blue = 0x001f;
constexpr quint16 white = 0xffff;

quint16 pixel16(const QImage& img, int x, int y)
{
    return reinterpret_cast<const quint16*>(img.constScanLine(y))[x];
}

// Fills a physical rectangle of the frame buffer, as the viewfinder blit does.
void fillPhysical(const QDirectPainter& dp, const QRect& r, quint16 value)
{
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* line = reinterpret_cast<quint16*>(dp.frameBuffer() + y * dp.lineStep());
        for (int x = r.left(); x <= r.right(); ++x)
            line[x] = value;
    }
}

std::unique_ptr<QWidget> blackWidget(const QRect& geometry)
{
    auto w = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::black);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    w->setGeometry(geometry);
    return w;
}

} // namespace

bool onPanel()
{
    return QGuiApplication::platformName() == QLatin1String("linuxfb");
}

#define VIRTUAL_SCREEN_ONLY()                                                                 \
    if (onPanel())                                                                           \
        QSKIP("a property of the virtual frame buffer")

class TestDirectPainter : public QObject {
    Q_OBJECT

    // The program picks its screen once, at its first use, from PDA_SCREEN_ROTATION (unset:
    // null). A case for another value runs again in a child process started with it; the
    // caller goes on only where the value is this process's own.
    bool runsWithRotation(int rotation)
    {
        static const char* const names[] = {"0", "1", "2", "3"};
        return runsWithRotation(names[rotation]);
    }
    bool runsWithRotation(const char* rotation)
    {
        if (qEnvironmentVariableIsSet("TST_DIRECTPAINTER_CHILD"))
            return true;  // a child never starts another
        const QByteArray own = qgetenv("PDA_SCREEN_ROTATION");
        const bool ownIsSet = qEnvironmentVariableIsSet("PDA_SCREEN_ROTATION");
        if (rotation ? ownIsSet && own == rotation : !ownIsSet)
            return true;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (rotation)
            env.insert(QStringLiteral("PDA_SCREEN_ROTATION"), QString::fromLatin1(rotation));
        else
            env.remove(QStringLiteral("PDA_SCREEN_ROTATION"));
        const QByteArray function = QTest::currentTestFunction();
        const QByteArray tag = QTest::currentDataTag();
        const QString only = QString::fromLatin1(tag.isNull() ? function : function + ':' + tag);
        const QByteArray passed = "PASS   : TestDirectPainter::" + function + '(' + tag + ')';
        env.insert(QStringLiteral("TST_DIRECTPAINTER_CHILD"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {only});
        if (!child.waitForFinished(60000))
            child.kill();
        const QByteArray output = child.readAll();
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            QTest::qFail(output.constData(), __FILE__, __LINE__);
        else if (!output.contains(passed))
            QTest::qFail(("the case did not run: " + output).constData(), __FILE__, __LINE__);
        return false;
    }

private slots:
    void mapping_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QRect>("logical");
        QTest::addColumn<QRect>("physical");
        const QRect square(0, 40, 240, 240);
        const QRect odd(10, 20, 30, 40);
        QTest::newRow("r0 square") << 0 << square << QRect(QPoint(0, 40), QPoint(239, 279));
        QTest::newRow("r1 square") << 1 << square << QRect(QPoint(40, 0), QPoint(279, 239));
        QTest::newRow("r2 square") << 2 << square << QRect(QPoint(0, 40), QPoint(239, 279));
        QTest::newRow("r3 square") << 3 << square << QRect(QPoint(40, 0), QPoint(279, 239));
        QTest::newRow("r0 odd") << 0 << odd << QRect(QPoint(10, 20), QPoint(39, 59));
        QTest::newRow("r1 odd") << 1 << odd << QRect(QPoint(20, 200), QPoint(59, 229));
        QTest::newRow("r2 odd") << 2 << odd << QRect(QPoint(200, 260), QPoint(229, 299));
        QTest::newRow("r3 odd") << 3 << odd << QRect(QPoint(260, 10), QPoint(299, 39));
        QTest::newRow("r1 whole screen") << 1 << QRect(0, 0, 240, 320) << QRect(0, 0, 320, 240);
        QTest::newRow("r4 refused") << 4 << odd << QRect();
        QTest::newRow("r-1 refused") << -1 << odd << QRect();
    }
    void mapping()
    {
        QFETCH(int, rotation);
        QFETCH(QRect, logical);
        QFETCH(QRect, physical);
        QCOMPARE(pda::logicalToPhysical(logical, rotation, 240, 320), physical);
    }

    void pointMappingIsOneToOne_data()
    {
        QTest::addColumn<int>("rotation");
        for (int r = 0; r < 4; ++r)
            QTest::newRow(qPrintable(QString("r%1").arg(r))) << r;
    }
    void pointMappingIsOneToOne()
    {
        QFETCH(int, rotation);
        const QSize phys = rotation % 2 ? QSize(320, 240) : QSize(240, 320);
        std::vector<bool> seen(size_t(phys.width() * phys.height()), false);
        const QRect probe(17, 33, 50, 70);
        const QRect probePhys = pda::logicalToPhysical(probe, rotation, 240, 320);
        for (int y = 0; y < 320; ++y) {
            for (int x = 0; x < 240; ++x) {
                const QPoint p = pda::logicalToPhysical(QPoint(x, y), rotation, 240, 320);
                QVERIFY(p.x() >= 0 && p.y() >= 0 && p.x() < phys.width() && p.y() < phys.height());
                const size_t i = size_t(p.y() * phys.width() + p.x());
                QVERIFY(!seen[i]);
                seen[i] = true;
                // A pixel lies inside a rectangle exactly when its image lies inside the image.
                QCOMPARE(probePhys.contains(p), probe.contains(x, y));
            }
        }
    }

    void painterGeometry_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("lineStep");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("r0") << 0 << 480 << QRect(QPoint(0, 40), QPoint(239, 279));
        QTest::newRow("r1") << 1 << 640 << QRect(QPoint(40, 0), QPoint(279, 239));
        QTest::newRow("r2") << 2 << 480 << QRect(QPoint(0, 40), QPoint(239, 279));
        QTest::newRow("r3") << 3 << 640 << QRect(QPoint(40, 0), QPoint(279, 239));
    }
    void painterGeometry()
    {
        VIRTUAL_SCREEN_ONLY();
        QFETCH(int, rotation);
        QFETCH(int, lineStep);
        QFETCH(QRect, expected);
        if (!runsWithRotation(rotation))
            return;
        auto w = blackWidget(QRect(0, 40, 240, 240));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(qt_screen->transformOrientation(), rotation);
        QCOMPARE(qt_screen->width(), 240);
        QCOMPARE(qt_screen->height(), 320);
        QDirectPainter dp(w.get());
        QCOMPARE(dp.xOffset(), 0);
        QCOMPARE(dp.yOffset(), 40);
        QCOMPARE(dp.numRects(), 1);
        QCOMPARE(dp.rect(0), expected);
        QCOMPARE(dp.lineStep(), lineStep);
        QVERIFY(dp.frameBuffer() == pda::virtualFrameBuffer().constBits());
        QCOMPARE(pda::virtualFrameBuffer().bytesPerLine(), lineStep);
        QCOMPARE(pda::virtualFrameBuffer().format(), QImage::Format_RGB16);
    }

    // The preview's turned frames have the screen's rows only in a quarter-turned screen.
    void directAccessByRotation_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("direct");
        QTest::newRow("r0") << 0 << false;
        QTest::newRow("r1") << 1 << true;
        QTest::newRow("r2") << 2 << false;
        QTest::newRow("r3") << 3 << true;
    }
    void directAccessByRotation()
    {
        VIRTUAL_SCREEN_ONLY();
        QFETCH(int, rotation);
        QFETCH(bool, direct);
        if (!runsWithRotation(rotation))
            return;
        QCOMPARE(qt_screen->directAccess(), direct);
    }

    void defaultRotationIsOne_data()
    {
        QTest::addColumn<QByteArray>("rotation");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("out of range") << QByteArray("7");
        QTest::newRow("not a number") << QByteArray("left");
    }
    void defaultRotationIsOne()
    {
        VIRTUAL_SCREEN_ONLY();
        QFETCH(QByteArray, rotation);
        if (!runsWithRotation(rotation.isNull() ? nullptr : rotation.constData()))
            return;
        QCOMPARE(qt_screen->transformOrientation(), 1);
        QCOMPARE(pda::virtualFrameBuffer().size(), QSize(320, 240));
    }

    void visibleRegion()
    {
        VIRTUAL_SCREEN_ONLY();
        if (!runsWithRotation("1"))
            return;
        auto w = blackWidget(QRect(0, 0, 240, 320));
        auto* label = new QLabel(QStringLiteral("Saved"), w.get());
        label->setGeometry(60, 150, 120, 20);
        label->hide();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        {
            QDirectPainter dp(w.get());
            QCOMPARE(dp.numRects(), 1);
            QCOMPARE(dp.rect(0), QRect(0, 0, 320, 240));
        }
        label->show();
        {
            QDirectPainter dp(w.get());
            QVERIFY(dp.numRects() >= 2);
            // None of the rectangles covers the label.
            const QRect labelPhys = pda::logicalToPhysical(label->geometry(), 1, 240, 320);
            for (int i = 0; i < dp.numRects(); ++i)
                QVERIFY(!dp.rect(i).intersects(labelPhys));
        }
        label->hide();
        w->hide();
        QDirectPainter hidden(w.get());
        QCOMPARE(hidden.numRects(), 0);
    }

    void clippedToScreen()
    {
        VIRTUAL_SCREEN_ONLY();
        if (!runsWithRotation("0"))
            return;
        auto w = blackWidget(QRect(200, 300, 100, 100));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QDirectPainter dp(w.get());
        QCOMPARE(dp.numRects(), 1);
        QCOMPARE(dp.rect(0), QRect(200, 300, 40, 20));
    }

    void blitShownAtLogicalPlace_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QPoint>("corner");  // logical pixel shown by the physical top-left
        QTest::newRow("r0") << 0 << QPoint(0, 40);
        QTest::newRow("r1") << 1 << QPoint(239, 40);
        QTest::newRow("r2") << 2 << QPoint(239, 279);
        QTest::newRow("r3") << 3 << QPoint(0, 279);
    }
    void blitShownAtLogicalPlace()
    {
        VIRTUAL_SCREEN_ONLY();
        QFETCH(int, rotation);
        QFETCH(QPoint, corner);
        if (!runsWithRotation(rotation))
            return;
        auto w = blackWidget(QRect(0, 40, 240, 240));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        {
            QDirectPainter dp(w.get());
            QCOMPARE(dp.numRects(), 1);
            const QRect t = dp.rect(0);
            fillPhysical(dp, t, red);
            fillPhysical(dp, QRect(t.topLeft(), QSize(1, 1)), blue);
        }  // presents the blit
        QCoreApplication::processEvents();
        const QImage shot = pda::logicalScreenshot();
        QCOMPARE(shot.size(), QSize(240, 320));
        QCOMPARE(pixel16(shot, corner.x(), corner.y()), blue);
        QCOMPARE(pixel16(shot, 120, 160), red);
        QCOMPARE(pixel16(shot, 120, 39), quint16(0));   // above the widget: untouched
        QCOMPARE(pixel16(shot, 120, 280), quint16(0));  // below it
        // What the widget shows is what was written.
        const QImage shown = w->grab().toImage().convertToFormat(QImage::Format_RGB16);
        QCOMPARE(pixel16(shown, corner.x(), corner.y() - 40), blue);
        QCOMPARE(pixel16(shown, 120, 120), red);
        QCOMPARE(shown.copy(0, 0, 240, 240), shot.copy(0, 40, 240, 240));

        // In the window itself every pixel is the memory's as the toolkit widens it to the
        // window's depth, each bit in its place.
        {
            QDirectPainter dp(w.get());
            const QRect t = dp.rect(0);
            for (int y = t.top(); y <= t.bottom(); ++y) {
                auto* line = reinterpret_cast<quint16*>(dp.frameBuffer() + y * dp.lineStep());
                for (int x = t.left(); x <= t.right(); ++x)
                    line[x] = quint16(x * 331 + y * 7919);
            }
        }
        const QPaintDevice* store = w->backingStore()->paintDevice();
        QCOMPARE(store->devType(), int(QInternal::Image));
        const auto* window = static_cast<const QImage*>(store);
        const QImage memory = pda::logicalScreenshot().copy(0, 40, 240, 240);
        const QImage widened = memory.convertToFormat(window->format()).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(window->copy(0, 0, 240, 240).convertToFormat(QImage::Format_RGB32), widened);
        // On X, so does the window as the server holds it (read back through the same
        // connection, so after every put sent before).
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            const QImage server = w->screen()->grabWindow(w->winId(), 0, 0, 240, 240).toImage();
            QCOMPARE(server.size(), QSize(240, 240));
            QCOMPARE(server.convertToFormat(window->format()).convertToFormat(QImage::Format_RGB32), widened);
        }
    }

    void erasingRepaintLeavesBlack()
    {
        VIRTUAL_SCREEN_ONLY();
        if (!runsWithRotation("1"))
            return;
        auto w = blackWidget(QRect(0, 0, 240, 320));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        {
            QDirectPainter dp(w.get());
            fillPhysical(dp, dp.rect(0), white);
        }
        QCOMPARE(pixel16(pda::logicalScreenshot(), 100, 100), white);
        w->repaint();
        const QImage shot = pda::logicalScreenshot();
        QCOMPARE(pixel16(shot, 100, 100), quint16(0));
        QCOMPARE(pixel16(shot, 0, 0), quint16(0));
        QCOMPARE(pixel16(shot, 239, 319), quint16(0));
    }

    void toolkitPaintLandsInMemory()
    {
        VIRTUAL_SCREEN_ONLY();
        if (!runsWithRotation("3"))
            return;
        auto w = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, QColor(0, 0, 255));
        w->setPalette(pal);
        w->setAutoFillBackground(true);
        w->setGeometry(0, 0, 240, 160);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        { QDirectPainter dp(w.get()); }  // starts mirroring the widget into memory
        w->repaint();
        const QImage shot = pda::logicalScreenshot();
        QCOMPARE(pixel16(shot, 10, 10), blue);
        QCOMPARE(pixel16(shot, 10, 200), quint16(0));  // outside the widget
    }

    // Another top-level window over the viewfinder (a message box among them) takes its
    // area out of what the blit may write, on the virtual frame buffer and on the panel.
    void coveringWindows_data()
    {
        QTest::addColumn<QRect>("cover");
        QTest::addColumn<bool>("coverOnTop");
        QTest::addColumn<bool>("messageBox");
        QTest::addColumn<bool>("raised");  // on top by raise(), shown before the viewfinder
        QTest::addColumn<int>("rects");    // -1: more than one
        QTest::addColumn<QRect>("visible");  // logical, for one rectangle
        const QRect all(0, 0, 240, 320);
        QTest::newRow("over the bottom: one piece left")
            << QRect(0, 200, 240, 120) << true << false << false << 1 << QRect(0, 0, 240, 200);
        QTest::newRow("over the left side")
            << QRect(-20, 0, 100, 320) << true << false << false << 1 << QRect(80, 0, 160, 320);
        QTest::newRow("in the middle: several pieces")
            << QRect(60, 100, 120, 80) << true << false << false << -1 << QRect();
        QTest::newRow("over all of it: nothing") << QRect(-10, -10, 300, 400) << true << false << false << 0 << QRect();
        QTest::newRow("raised over the bottom, not shown again")
            << QRect(0, 200, 240, 120) << true << false << true << 1 << QRect(0, 0, 240, 200);
        QTest::newRow("underneath: no effect") << QRect(60, 100, 120, 80) << false << false << false << 1 << all;
        QTest::newRow("beside it: no effect") << QRect(0, 330, 240, 40) << true << false << false << 1 << all;
        // A message box keeps the size its text needs: only its place is chosen.
        QTest::newRow("message box in the middle") << QRect(40, 120, 0, 0) << true << true << false << -1 << QRect();
    }
    void coveringWindows()
    {
        QFETCH(QRect, cover);
        QFETCH(bool, coverOnTop);
        QFETCH(bool, messageBox);
        QFETCH(bool, raised);
        QFETCH(int, rects);
        QFETCH(QRect, visible);
        if (!onPanel() && !runsWithRotation("1"))
            return;
        auto w = blackWidget(QRect(0, 0, 240, 320));
        std::unique_ptr<QWidget> other;
        if (messageBox)
            other = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("Error"),
                                                  QStringLiteral("Saving failed"));
        else
            other = blackWidget(cover);
        other->setWindowFlag(Qt::FramelessWindowHint);
        if (!coverOnTop || raised) {
            other->show();
            QVERIFY(QTest::qWaitForWindowExposed(other.get()));
        }
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (raised) {
            other->raise();
        } else if (coverOnTop) {
            other->show();
            QVERIFY(QTest::qWaitForWindowExposed(other.get()));
        }
        if (messageBox) {
            other->move(cover.topLeft());
            QTRY_COMPARE(other->frameGeometry().topLeft(), cover.topLeft());
            cover = other->frameGeometry();
        } else {
            other->setGeometry(cover);
            QTRY_COMPARE(other->frameGeometry(), cover);
        }

        const int r = qt_screen->transformOrientation();
        const int sw = qt_screen->width();
        const int sh = qt_screen->height();
        QDirectPainter dp(w.get());
        if (rects < 0)
            QVERIFY2(dp.numRects() > 1, qPrintable(QString::number(dp.numRects())));
        else
            QCOMPARE(dp.numRects(), rects);
        if (rects == 1)
            QCOMPARE(dp.rect(0), pda::logicalToPhysical(visible, r, sw, sh));
        const QRect coverPhysical = pda::logicalToPhysical(cover & QRect(0, 0, sw, sh), r, sw, sh);
        for (int i = 0; i < dp.numRects(); ++i) {
            if (coverOnTop)
                QVERIFY(!dp.rect(i).intersects(coverPhysical));
        }
    }

    // The panel's memory is what the direct painter hands out: its line length with the
    // padding, its place, and direct access only for 16-bit RGB565 in a rotation the
    // toolkit draws too.
    void panelMemory()
    {
        if (!onPanel())
            QSKIP("needs Qt's linuxfb platform over the simulated panel");
        const QByteArray memoryPath = qgetenv("FB_SHIM_MEMORY");
        QVERIFY(!memoryPath.isEmpty());
        const int line = qEnvironmentVariableIntValue("FB_SHIM_LINE");
        auto w = blackWidget(QRect(0, 40, 240, 240));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(qt_screen->transformOrientation(), 0);  // Qt draws the panel unrotated
        QCOMPARE(qt_screen->directAccess(), false);
        {
            QDirectPainter dp(w.get());
            QCOMPARE(dp.lineStep(), line);
            QCOMPARE(dp.numRects(), 1);
            QCOMPARE(dp.rect(0), QRect(0, 40, 240, 240));
            // A blit's row lands at its place in the panel's memory, padding untouched.
            fillPhysical(dp, QRect(10, 50, 4, 1), blue);
        }
        QFile memory(QString::fromLocal8Bit(memoryPath));
        QVERIFY(memory.open(QIODevice::ReadOnly));
        const QByteArray bytes = memory.readAll();
        QVERIFY(bytes.size() >= line * 320);
        const auto at = [&](int x, int y) {
            quint16 v;
            std::memcpy(&v, bytes.constData() + y * line + 2 * x, 2);
            return v;
        };
        QCOMPARE(at(10, 50), blue);
        QCOMPARE(at(13, 50), blue);
        QVERIFY(at(14, 50) != blue);
    }
};

int main(int argc, char** argv)
{
    PanelMemory panel;
    // Most cases run in the handheld's own rotation; the others in child processes.
    if (!qEnvironmentVariableIsSet("PDA_SCREEN_ROTATION")
        && !qEnvironmentVariableIsSet("TST_DIRECTPAINTER_CHILD"))
        qputenv("PDA_SCREEN_ROTATION", "1");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestDirectPainter test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_directpainter.moc"
