// The camera on Qt's linuxfb platform over the simulated frame buffer, against the card
// emulator: what the panel's memory shows (the live scene upright in the viewfinder, the
// form's widgets at their places), in the window and full screen, with the preview chosen
// direct or painted, and the picture a capture saves. CTest runs it once per panel (size,
// depth, line length); the panel is fixed for a process.
#include "support/panelmemory.h"
#include "support/scene.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"
#include "viewfinder/myframe.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

namespace {

struct Panel {
    QSize size;
    int depth = 16;
    int line = 0;
    QString memory;
};

Panel panelFromEnvironment()
{
    Panel p;
    const QStringList size = qEnvironmentVariable("FB_SHIM_SIZE", "240x320").split('x');
    p.size = QSize(size.value(0).toInt(), size.value(1).toInt());
    p.depth = qEnvironmentVariableIntValue("FB_SHIM_DEPTH") == 32 ? 32 : 16;
    p.line = qEnvironmentVariableIsSet("FB_SHIM_LINE") ? qEnvironmentVariableIntValue("FB_SHIM_LINE")
                                                       : p.size.width() * p.depth / 8;
    p.memory = qEnvironmentVariable("FB_SHIM_MEMORY");
    return p;
}

// The panel as it shows now, read from its memory.
QImage readPanel(const Panel& p)
{
    QFile f(p.memory);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    if (bytes.size() < qsizetype(p.line) * p.size.height())
        return {};
    const QImage view(reinterpret_cast<const uchar*>(bytes.constData()), p.size.width(),
                      p.size.height(), p.line,
                      p.depth == 16 ? QImage::Format_RGB16 : QImage::Format_RGB32);
    // A deep copy: converting a 32-bit view to its own format would only share `bytes`.
    return view.convertToFormat(QImage::Format_RGB32).copy();
}

// Share of the pixels of `a` close to `b`'s (both the same size); text is smoothed in the
// panel's own depth, so its edges differ a little.
double sameShare(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    qint64 same = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            same += qAbs(qRed(p) - qRed(q)) <= 32 && qAbs(qGreen(p) - qGreen(q)) <= 32
                && qAbs(qBlue(p) - qBlue(q)) <= 32;
        }
    }
    return double(same) / (a.width() * a.height());
}

QPoint onScreen(const QWidget* w)
{
    return w->mapToGlobal(QPoint(0, 0)) - w->screen()->geometry().topLeft();
}

}  // namespace

class TestCameraLinuxFb : public QObject {
    Q_OBJECT

    Panel panel;
    QString skipReason;

    // Waits for `frames` more whole preview frames read from the card, then lets the
    // toolkit put what it drew on the panel.
    static bool waitForFrames(const CardMount& card, int frames)
    {
        const auto reads = [&] {
            int n = 0;
            for (const QString& line : card.logLines())
                n += line.startsWith("read ") && !line.startsWith("read 4 ");
            return n;
        };
        const int target = reads() + frames;
        QElapsedTimer t;
        t.start();
        while (reads() < target) {
            if (t.elapsed() > 10000)
                return false;
            QTest::qWait(20);
        }
        QTest::qWait(100);
        return true;
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("linuxfb"))
            QSKIP("needs Qt's linuxfb platform over the simulated panel (run through CTest)");
        panel = panelFromEnvironment();
        QVERIFY2(!panel.memory.isEmpty(), "FB_SHIM_MEMORY is not set");
        const QString reason = CardMount::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        QCOMPARE(QGuiApplication::primaryScreen()->size(), panel.size);
    }

    void previewUpright_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("full");
        // Qt's linuxfb draws the panel unrotated, so the card's turned frames would come out
        // sideways there: a direct preview is drawn with the painter instead.
        QTest::newRow("window, direct chosen") << QByteArray("[Option]\nDispMode=0\n") << false;
        QTest::newRow("window, painter") << QByteArray("[Option]\nSlowCapture=4\n") << false;
        QTest::newRow("window, portrait, direct chosen") << QByteArray("[Option]\nDispMode=1\n") << false;
        QTest::newRow("full screen, portrait, direct chosen") << QByteArray("[Option]\nDispMode=1\n") << true;
        QTest::newRow("full screen, portrait, painter")
            << QByteArray("[Option]\nDispMode=1\nSlowCapture=4\n") << true;
        QTest::newRow("full screen, square, direct chosen") << QByteArray("[Option]\nDispMode=2\nDispModeMax=3\n") << true;
    }
    void previewUpright()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, full);
        CardMount card;
        QVERIFY(card.start());
        const QByteArray node = card.node("vdc");
        TestEnvironment env;
        env.writeSettings(settings);
        env.paths.deviceNode = node.constData();
        Camera camera(nullptr, nullptr, {}, env.paths);
        camera.show();
        camera.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&camera));
        if (full) {
            QVERIFY(camera.PushButton6->isEnabled());
            camera.ButtonFullScreen();
            QVERIFY(QTest::qWaitForWindowExposed(camera.fullScreenFrame()));
            QCOMPARE(camera.fullScreenFrame()->size(), panel.size);
        }
        QVERIFY(waitForFrames(card, 5));

        // The preview went through the painter: upright frames asked for, never turned ones.
        const QStringList log = card.logLines();
        QVERIFY2(!log.filter(QRegularExpression("^write R=")).isEmpty(), qPrintable(log.join('\n')));
        QVERIFY(log.filter(QRegularExpression("^write S=")).isEmpty());

        const QImage shown = readPanel(panel);
        QVERIFY(!shown.isNull());
        int w = 0, h = 0;
        camera.formatGeometry(&w, &h, true);
        const QWidget* vf = camera.viewfinder();
        const QPoint at = onScreen(vf) + QPoint((vf->width() - w) >> 1, (vf->height() - h) >> 1);
        const QImage preview = shown.copy(QRect(at, QSize(w, h)));
        const QString problem = sceneProblem(preview);
        if (!problem.isEmpty())
            shown.save(QDir::temp().filePath("linuxfb-preview.png"));
        QVERIFY2(problem.isEmpty(), qPrintable(problem + " (panel saved as linuxfb-preview.png in the temp folder)"));

        if (!full) {
            // The form's buttons on the panel as the toolkit draws them, where they lie.
            int checked = 0;
            for (QPushButton* b : camera.findChildren<QPushButton*>()) {
                const QRect r(onScreen(b), b->size());
                if (!b->isVisible() || !QRect(QPoint(0, 0), panel.size).contains(r))
                    continue;
                // In the panel's own depth: a 16-bit panel rounds every colour.
                const QImage drawn = b->grab().toImage()
                    .convertToFormat(panel.depth == 16 ? QImage::Format_RGB16 : QImage::Format_RGB32)
                    .convertToFormat(QImage::Format_RGB32);
                const double share = sameShare(shown.copy(r), drawn);
                if (share <= 0.9) {
                    shown.copy(r).save(QDir::temp().filePath(b->objectName() + "-panel.png"));
                    drawn.save(QDir::temp().filePath(b->objectName() + "-grab.png"));
                }
                QVERIFY2(share > 0.9, qPrintable(QStringLiteral("%1 at %2,%3: %4 of its pixels")
                                                     .arg(b->objectName()).arg(r.x()).arg(r.y()).arg(share)));
                ++checked;
            }
            QVERIFY(checked >= 4);
        }
        camera.close();
    }

    void captureSavesUprightPicture()
    {
        CardMount card;
        QVERIFY(card.start());
        const QByteArray node = card.node("vdc");
        TestEnvironment env;
        env.paths.deviceNode = node.constData();
        Camera camera(nullptr, nullptr, {}, env.paths);
        camera.show();
        camera.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&camera));
        QVERIFY(waitForFrames(card, 3));
        QVERIFY(card.control("shutter\n"));
        const QString name = env.home + "/Documents/Image_Files/pic0001.jpg";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(name), 10000);
        QImage picture;
        QTRY_VERIFY_WITH_TIMEOUT(picture.load(name), 5000);
        QCOMPARE(picture.size(), QSize(480, 320));
        const QString problem = sceneProblem(picture);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // The preview goes on afterwards, upright on the panel.
        QVERIFY(waitForFrames(card, 3));
        int w = 0, h = 0;
        camera.formatGeometry(&w, &h, true);
        const QWidget* vf = camera.viewfinder();
        const QPoint at = onScreen(vf) + QPoint((vf->width() - w) >> 1, (vf->height() - h) >> 1);
        const QImage preview = readPanel(panel).copy(QRect(at, QSize(w, h)));
        QVERIFY2(sceneProblem(preview).isEmpty(), qPrintable(sceneProblem(preview)));
        camera.close();
    }
};

int main(int argc, char** argv)
{
    PanelMemory panel;
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestCameraLinuxFb test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_camera_linuxfb.moc"
