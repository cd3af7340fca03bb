// The capture cycle against the card emulator, where the real wire matters: the picture on
// the screen, the buzzer before a capture, pictures in a row, the card's faults, and the
// save-failure box as the user meets it. The cycle's rules are tst_cyclerules'.
#include "platform/qcop.h"
#include "platform/virtualscreen.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"
#include "viewfinder/myframe.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QCheckBox>
#include <QLabel>
#include <QLCDNumber>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QElapsedTimer>

#include <algorithm>

namespace {

int countOf(const QStringList& lines, const QString& line)
{
    return int(lines.count(line));
}

bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool isGreen(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
bool isBlue(QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; }
bool isYellow(QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() < 60; }

} // namespace

class TestCaptureCycle : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void previewUpright_data();
    void previewUpright();
    void noMessageWithoutSaveWait();
    void picturesInARow();
    void faultsKeepThePreviewGoing();
    void saveFailureBox_data();
    void saveFailureBox();
    void cardShutterInFullScreen();

private:
    std::unique_ptr<CardMount> card;
    std::unique_ptr<TestEnvironment> env;
    QByteArray vdc;
    QByteArray buz;
    std::unique_ptr<Camera> startCamera(const QByteArray& settings);
};

void TestCaptureCycle::init()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    card = std::make_unique<CardMount>();
    QVERIFY(card->start());
    env = std::make_unique<TestEnvironment>();
    vdc = card->node("vdc");
    buz = card->node("buz");
    env->paths.deviceNode = vdc.constData();
    env->paths.buzzerNode = buz.constData();
}

void TestCaptureCycle::cleanup()
{
    env.reset();
    card.reset();
}

std::unique_ptr<Camera> TestCaptureCycle::startCamera(const QByteArray& settings)
{
    env->writeSettings(settings);
    auto c = std::make_unique<Camera>(nullptr, nullptr, Qt::WindowFlags(), env->paths);
    c->setWindowFlags(c->windowFlags() | Qt::FramelessWindowHint);
    c->move(0, 0);
    c->show();
    c->activateWindow();
    if (!QTest::qWaitForWindowActive(c.get()))
        qWarning("window not active");
    return c;
}

void TestCaptureCycle::previewUpright_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("dispMode");
    QTest::addColumn<bool>("fullScreen");
    // Where the preview lies in the widget showing it; full screen: centred on the screen.
    QTest::addColumn<QPoint>("offset");
    const QByteArray painter("[Option]\nSlowCapture=0\nDispModeMax=3\n");
    const QByteArray direct("[Option]\nDispModeMax=3\n");
    for (const auto& [mode, settings] : {std::pair{"direct", direct}, std::pair{"painter", painter}}) {
        QTest::addRow("%s, Landscape", mode) << settings << 0 << false << QPoint(0, 0);
        QTest::addRow("%s, Portrait", mode) << settings << 1 << false << QPoint(60, 0);
        QTest::addRow("%s, Square", mode) << settings << 2 << false << QPoint(40, 0);
        // The direct rows' virtual screen is the handheld's 240x320, smaller than the test's
        // screen that a full-screen frame covers: full screen is checked painted.
        if (settings == direct)
            continue;
        // Full screen: the frame's size at the handheld's scale in place of the offset.
        QTest::addRow("%s, Portrait full screen", mode) << settings << 1 << true << QPoint(240, 320);
        QTest::addRow("%s, Square full screen", mode) << settings << 2 << true << QPoint(240, 240);
    }
}

void TestCaptureCycle::previewUpright()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, dispMode);
    QFETCH(bool, fullScreen);
    QFETCH(QPoint, offset);
    // The test's screen is larger than the handheld's: full screen scales the frame by the
    // factor the handheld's 240x320 fits the screen with, and centres it.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const qreal scale = fullScreen ? qMax(1.0, qMin(screen.width() / 240.0, screen.height() / 320.0)) : 1.0;
    auto c = startCamera(settings);
    c->selectDispMode(dispMode);
    if (fullScreen) {
        c->ButtonFullScreen();
        QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    }
    card->clearLog();
    QTRY_VERIFY(countOf(card->logLines(), "read 153600 153600") >= 3);
    QTest::qWait(50);
    QWidget* widget = c->viewfinder();
    int w = 0, h = 0;
    c->formatGeometry(&w, &h, true);
    if (fullScreen) {
        QCOMPARE(QSize(w, h), QSize(offset.x(), offset.y()));
        w = qRound(w * scale);
        h = qRound(h * scale);
        offset = QPoint((screen.width() - w) / 2, (screen.height() - h) / 2);
    }
    QCOMPARE(QPoint((widget->width() - w) / 2, (widget->height() - h) / 2), offset);
    QImage shown;
    QPoint origin = offset;
    if (!settings.contains("SlowCapture=0")) {
        shown = pda::logicalScreenshot().convertToFormat(QImage::Format_RGB32);
        origin += widget->mapToGlobal(QPoint(0, 0)) - widget->screen()->geometry().topLeft();
    } else {
        shown = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    QVERIFY(!shown.isNull());
    const QPoint at[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    QVERIFY2(isRed(shown.pixelColor(origin + at[0])), qPrintable(shown.pixelColor(origin + at[0]).name()));
    QVERIFY(isGreen(shown.pixelColor(origin + at[1])));
    QVERIFY(isBlue(shown.pixelColor(origin + at[2])));
    QVERIFY(isYellow(shown.pixelColor(origin + at[3])));
    // Beside the preview the widget's black background.
    if (offset.x() > 0)
        QCOMPARE(shown.pixelColor(origin + QPoint(-offset.x() / 2, h / 2)), QColor(Qt::black));
    if (offset.y() > 0)
        QCOMPARE(shown.pixelColor(origin + QPoint(w / 2, -offset.y() / 2)), QColor(Qt::black));
}

void TestCaptureCycle::noMessageWithoutSaveWait()
{
    auto c = startCamera("[File]\nSaveWait=0\n");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QVERIFY(card->control("shutter\n"));
    QTRY_COMPARE(c->settings().serial, 1);
    QTRY_VERIFY(card->logLines().contains("write B"));
    QCOMPARE(c->cycle().messageShownMs, 0u);
    const QStringList lines = card->logLines();
    const int capture = int(lines.indexOf("write R=480,320,256,960"));
    QVERIFY(capture > 0);
    QCOMPARE(lines.mid(capture, 4),
             QStringList({"write R=480,320,256,960", "write M=0", "read 307200 307200", "write M=1"}));
    QCOMPARE(lines.at(capture - 1), QString("ioctl 0x5680 2"));
}

void TestCaptureCycle::picturesInARow()
{
    auto c = startCamera("[File]\nSaveWait=300\n");
    for (int n = 1; n <= 3; ++n) {
        QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
        card->clearLog();
        // "Saved" shows for 300 ms after the picture, which comes after the press.
        QElapsedTimer pressed;
        pressed.start();
        QVERIFY(card->control("shutter\n"));
        QTRY_COMPARE(c->settings().serial, n);
        QTRY_VERIFY(card->logLines().contains("write B"));
        QVERIFY2(pressed.elapsed() >= 300, qPrintable(QString("picture %2: B %1 ms after the press").arg(pressed.elapsed()).arg(n)));
        const QStringList lines = card->logLines();
        QCOMPARE(lines.count("read 307200 307200"), 1);
        QVERIFY(QFile::exists(env->home + QString::asprintf("/Documents/Image_Files/pic%04d.jpg", n)));
        card->clearLog();
    }
}

void TestCaptureCycle::faultsKeepThePreviewGoing()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    for (const QByteArray& fault : {QByteArray("fail-reads 3\n"), QByteArray("short-read 100\n"),
                                    QByteArray("fail-writes 2\n")}) {
        QVERIFY(card->control(fault));
        QTest::qWait(300);
        card->clearLog();
        QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    }
    QVERIFY(c->isVisible());
}

// Notes each message box as it is shown, before its event loop runs any tick.
class BoxShown : public QObject {
public:
    explicit BoxShown(std::function<void()> onShow) : onShow(std::move(onShow))
    {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched))
            onShow();
        return false;
    }

private:
    std::function<void()> onShow;
};

void TestCaptureCycle::saveFailureBox_data()
{
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("fullScreen");
    QTest::newRow("the card's button, full screen") << "card" << true;
    QTest::newRow("a key, full screen") << "key" << true;
    QTest::newRow("the Shutter button") << "screen" << false;
}

// The save-failure path as the user meets it: full screen left first, the screen saver
// back to the user's, the box with the preview going on behind it, one capture per press,
// and "B" once the box is closed. The card's own button stays pressed until "B": the ticks
// behind the box answer it then, as the box is the active window; a key or the on-screen
// button leaves the card without "B" until the box is closed.
void TestCaptureCycle::saveFailureBox()
{
    QFETCH(QString, press);
    QFETCH(bool, fullScreen);
    QDir().mkpath(env->home + "/Documents");
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly));
    auto c = startCamera("[Option]\nDispMode=1\n");
    if (fullScreen) {
        c->ButtonFullScreen();
        QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    }
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    const QString captureRead = QString("read %1 %1").arg(c->captureFrame().sizeInBytes());
    QString title, text;
    bool fullScreenDuringBox = true;
    int bsDuringBox = -1;
    int framesAtBox = -1;
    int framesDuringBox = -1;
    // The screen saver's level as the box opens: the last one the camera sent before it. The
    // ticks behind the box apply the power rule again.
    QCopChannel system("QPE/System");
    QSignalSpy sent(&system, &QCopChannel::received);
    int levelAtBox = -2;
    BoxShown shown([&] {
        if (levelAtBox == -2)
            levelAtBox = c->screenSaverLevel();
    });
    QElapsedTimer open;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        const QStringList lines = card->logLines();
        if (framesAtBox < 0) {
            open.start();
            framesAtBox = countOf(lines, "read 153600 153600");
            title = box->windowTitle();
            text = box->text();
            fullScreenDuringBox = c->options().fullScreen || c->fullScreenFrame()->isVisible();
        }
        // Open until the preview has visibly gone on behind it.
        framesDuringBox = countOf(lines, "read 153600 153600") - framesAtBox;
        if (framesDuringBox < 3 && open.elapsed() < 5000)
            return;
        bsDuringBox = countOf(lines, "write B");
        box->accept();
    });
    poll.start(10);
    card->clearLog();
    if (press == "card")
        QVERIFY(card->control("shutter\n"));
    else if (press == "key")
        QTest::keyClick(c->fullScreenFrame(), Qt::Key_Return);
    else
        c->PushButton0->click();
    QTRY_VERIFY_WITH_TIMEOUT(bsDuringBox >= 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(countOf(card->logLines(), "write B") > bsDuringBox, 5000);
    poll.stop();
    QCOMPARE(title, QString("Error"));
    QCOMPARE(text, QString("Save failed!\nPlease check storage status."));
    QVERIFY(!fullScreenDuringBox);
    QCOMPARE(levelAtBox, 0);
    QTRY_VERIFY(std::any_of(sent.cbegin(), sent.cend(), [](const QList<QVariant>& m) {
        int mode = -1;
        QDataStream(m.at(1).toByteArray()) >> mode;
        return m.at(0).toByteArray() == "setScreenSaverMode(int)" && mode == 100;
    }));
    QVERIFY2(framesDuringBox >= 3, qPrintable(QString("%1 frames behind the box").arg(framesDuringBox)));
    if (press != "card")
        QCOMPARE(bsDuringBox, 0);
    QTest::qWait(100);
    QCOMPARE(countOf(card->logLines(), captureRead), 1);
    QCOMPARE(c->settings().serial, 0);
}

// The card's button takes a picture while the full-screen frame is the active window.
void TestCaptureCycle::cardShutterInFullScreen()
{
    auto c = startCamera("[Option]\nDispMode=1\n[File]\nSaveWait=0\n");
    c->ButtonFullScreen();
    QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    QVERIFY(!c->isActiveWindow());
    QVERIFY(card->control("shutter\n"));
    QTRY_COMPARE(c->settings().serial, 1);
    QVERIFY(QFile::exists(env->home + "/Documents/Image_Files/pic0001.jpg"));
    QVERIFY(c->options().fullScreen);
}

QTEST_MAIN(TestCaptureCycle)
#include "tst_capturecycle.moc"
