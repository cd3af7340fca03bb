// The capture cycle against the card emulator: the preview's traffic, the picture on the
// screen, messages, the card's buttons and bits, a lost card and a missing one.
#include "platform/qcop.h"
#include "platform/qcop_p.h"
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

namespace {

int countOf(const QStringList& lines, const QString& line)
{
    return int(lines.count(line));
}

// Traffic after the start: what follows the first frame read.
QStringList frameTraffic(const QStringList& lines)
{
    QStringList out;
    for (const QString& l : lines) {
        if (l != "read 4 4")
            out << l;
    }
    return out;
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
    void previewTraffic_data();
    void previewTraffic();
    void zoomSendsNewGeometry();
    void previewUpright_data();
    void previewUpright();
    void savedMessageHoldsThePreview();
    void noMessageWithoutSaveWait();
    void picturesInARow();
    void shutterIgnoredWhileInactive();
    void orientationDrivesMirror_data();
    void orientationDrivesMirror();
    void turnedCardAfterSaveDirectionBack();
    void busyCardSkipsFrames();
    void lostCardComesBack();
    void faultsKeepThePreviewGoing();
    void missingCardBoxThenClose();
    void failedSaveBoxTakesThePress();
    void saveFailureBox_data();
    void saveFailureBox();
    void cardShutterInFullScreen();
    void linkNoticePerAttempt_data();
    void linkNoticePerAttempt();
    void frameRate();

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

void TestCaptureCycle::previewTraffic_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("frame");
    QTest::newRow("direct, with C") << QByteArray("")
        << QStringList{"write S=160,240,256,640", "write M=0", "read 153600 153600", "write M=1", "write C"};
    QTest::newRow("painter, no C") << QByteArray("[Option]\nSlowCapture=0\n")
        << QStringList{"write R=240,160,256,480", "write M=0", "read 153600 153600", "write M=1"};
    QTest::newRow("slow capture on") << QByteArray("[Option]\nSlowCapture=6\n")
        << QStringList{"write M=3", "write R=240,160,256,480", "write M=2", "read 153600 153600", "write M=3", "write C"};
}

void TestCaptureCycle::previewTraffic()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, frame);
    auto c = startCamera(settings);
    QTRY_VERIFY(countOf(card->logLines(), "read 153600 153600") >= 5);
    const QStringList lines = card->logLines();
    QCOMPARE(lines.mid(0, 2), QStringList({"open", "write M=1"}));
    const QStringList traffic = frameTraffic(lines.mid(2));
    QCOMPARE(traffic.mid(0, frame.size()), frame);
    // Later frames repeat without the geometry.
    const QStringList again = frame.filter(QRegularExpression("^(write M|read|write C)"))
                                  .mid(frame.first() == "write M=3" ? 1 : 0);
    QCOMPARE(traffic.mid(frame.size(), again.size()), again);
    QCOMPARE(traffic.filter(QRegularExpression("^write [RS]=")).size(), 1);
}

void TestCaptureCycle::zoomSendsNewGeometry()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    c->ButtonResolution(); // 240x160, zoom allowed
    c->CheckBox1->click();
    QCOMPARE(c->options().zoom, 1);
    QTRY_VERIFY(card->logLines().contains("write S=160,240,512,640"));
    QCOMPARE(c->cycle().geometryKey, 1 + 4 * 5);
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
    if (fullScreen) {
        // The test's screen is larger than the handheld's: centred on whatever it is.
        const QSize screen = QGuiApplication::primaryScreen()->size();
        offset = QPoint((screen.width() - offset.x()) / 2, (screen.height() - offset.y()) / 2);
    }
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

void TestCaptureCycle::savedMessageHoldsThePreview()
{
    auto c = startCamera("[File]\nSaveWait=600\n");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    c->ButtonShutter();
    QTRY_VERIFY(c->cycle().messageShownMs != 0);
    QVERIFY(c->TextLabel4->isVisible());
    QCOMPARE(c->TextLabel4->text(), QString("Saved"));
    QCOMPARE(c->settings().serial, 1);
    card->clearLog();
    c->ButtonShutter();               // dropped when the message ends
    QVERIFY(card->control("shutter\n")); // the card's button is not acted upon either
    QTest::qWait(300);
    QCOMPARE(countOf(card->logLines(), "read 153600 153600"), 0); // the preview is frozen
    QTRY_VERIFY_WITH_TIMEOUT(c->cycle().messageShownMs == 0, 2000);
    QVERIFY(c->TextLabel4->isHidden());
    QTRY_VERIFY(card->logLines().contains("write B"));
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QTest::qWait(100);
    QCOMPARE(c->settings().serial, 1);
    QVERIFY(!QFile::exists(env->home + "/Documents/Image_Files/pic0002.jpg"));
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

void TestCaptureCycle::shutterIgnoredWhileInactive()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!c->isActiveWindow());
    QVERIFY(card->control("shutter\n"));
    QTRY_VERIFY(card->logLines().contains("write B"));
    QCOMPARE(c->settings().serial, 0);
    QVERIFY(!card->logLines().contains("ioctl 0x5680 2"));
}

void TestCaptureCycle::orientationDrivesMirror_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("follows");
    QTest::newRow("direction hidden") << QByteArray("") << true;
    QTest::newRow("direction up") << QByteArray("[Option]\nSaveDirection=0\n") << true;
    QTest::newRow("direction back") << QByteArray("[Option]\nSaveDirection=1\n") << false;
}

void TestCaptureCycle::orientationDrivesMirror()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, follows);
    auto c = startCamera(settings);
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QVERIFY(card->control("orientation 1\n"));
    QTest::qWait(200);
    QCOMPARE(c->options().mirror, follows ? 1 : 0);
    QCOMPARE(card->logLines().contains("write M=13"), follows);
    QVERIFY(card->control("orientation 0\n"));
    QTRY_COMPARE(c->options().mirror, 0);
}

void TestCaptureCycle::turnedCardAfterSaveDirectionBack()
{
    auto c = startCamera("[Option]\nSaveDirection=0\n");
    QVERIFY(card->control("orientation 1\n"));
    QTRY_COMPARE(c->options().mirror, 1);
    c->PushButton7->click(); // "back": the mirror goes off and the turned card is ignored
    QTest::qWait(100);
    QCOMPARE(c->options().mirror, 0);
    c->PushButton7->click(); // "up": the card, still turned, sets the mirror again
    QTRY_COMPARE(c->options().mirror, 1);
}

void TestCaptureCycle::busyCardSkipsFrames()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QVERIFY(card->control("busy 1\n"));
    QTest::qWait(100);
    card->clearLog();
    QTest::qWait(300);
    QStringList lines = card->logLines();
    QVERIFY(countOf(lines, "read 4 4") >= 5);
    QCOMPARE(countOf(lines, "read 153600 153600"), 0);
    QVERIFY(card->control("busy 0\n"));
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
}

void TestCaptureCycle::lostCardComesBack()
{
    auto c = startCamera("[Option]\nSlowCapture=14\n");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    c->selectMirror(1);
    QVERIFY(card->control("present 0\n"));
    QTRY_VERIFY(c->cycle().deviceLost);
    QCOMPARE(c->runningTimers(), 1);
    QTRY_VERIFY(card->logLines().contains("close"));
    card->clearLog();
    QTest::qWait(1500); // re-created once a second while absent
    const QStringList absent = card->logLines();
    QVERIFY(countOf(absent, "open") >= 1);
    QCOMPARE(countOf(absent, "read 153600 153600"), 0);
    QVERIFY(card->control("present 1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(card->logLines().contains("read 153600 153600"), 3000);
    const QStringList back = card->logLines();
    const int reopened = int(back.lastIndexOf("open", back.indexOf("read 153600 153600")));
    QVERIFY(reopened >= 0);
    // Mode 1 at the start, the slow bit, the mirror bits, then the preview geometry again.
    QCOMPARE(back.mid(reopened, 4), QStringList({"open", "write M=1", "write M=3", "write M=15"}));
    QVERIFY(back.mid(reopened).contains("write S=160,240,256,640"));
    QTRY_COMPARE(c->runningTimers(), 1);
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

void TestCaptureCycle::missingCardBoxThenClose()
{
    QVERIFY(card->control("unplug\n"));
    QString title, text;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    poll.start(10);
    auto c = startCamera("");
    QTRY_COMPARE(title, QString("Error"));
    QCOMPARE(text, QString("Insert the Camera Card \n(QD-CM09) before starting \nthe Camera application."));
    QVERIFY(c->cycle().cardErrorShown);
    QTRY_VERIFY_WITH_TIMEOUT(!c->isVisible(), 2000);
}

// While the save-failure box is open the card's button, still pressed, must not start a
// second capture, even where the window system still reports the main window as active.
void TestCaptureCycle::failedSaveBoxTakesThePress()
{
    QDir().mkpath(env->home + "/Documents");
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly)); // every save fails
    auto c = startCamera("");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    int boxes = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box->property("seen").toBool()) {
            if (box->property("ticks").toInt() >= 30) {
                box->accept();
                return;
            }
            box->setProperty("ticks", box->property("ticks").toInt() + 1);
            // As a window system would until it has made the box the active window.
            QApplication::setActiveWindow(c.get());
            return;
        }
        box->setProperty("seen", true);
        ++boxes;
    });
    poll.start(10);
    QVERIFY(card->control("shutter\n"));
    QTRY_VERIFY_WITH_TIMEOUT(card->logLines().contains("write B"), 5000);
    poll.stop();
    QCOMPARE(boxes, 1);
    QCOMPARE(card->logLines().count("write R=480,320,256,960"), 1);
    QCOMPARE(c->settings().serial, 0);
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
    // The screen-saver messages as they leave, and the box as it opens. The ticks behind
    // the box apply the power rule again, so only the order up to the box is the camera's.
    QStringList events;
    pda::setSendObserver([&](const QByteArray&, const QByteArray& message, const QByteArray& data) {
        if (message != "setScreenSaverMode(int)")
            return;
        int mode = -1;
        QDataStream(data) >> mode;
        events << QString::number(mode);
    });
    // Also when a check fails: the observer refers to this test's locals.
    struct ObserverReset {
        ~ObserverReset() { pda::setSendObserver({}); }
    } observerReset;
    BoxShown shown([&] { events << "box"; });
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
    const qsizetype box = events.indexOf("box");
    QVERIFY2(box > 0 && events.at(box - 1) == "100", qPrintable(events.join(' ')));
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

void TestCaptureCycle::linkNoticePerAttempt_data()
{
    QTest::addColumn<QByteArray>("remain");
    QTest::addColumn<int>("notices");
    QTest::newRow("bit 2 clear: one per attempt") << QByteArray("0") << 2;
    QTest::newRow("default 4: none during the run") << QByteArray("4") << 0;
}

// A document-list notice after each save attempt, the failed one too, where "Remain" asks.
void TestCaptureCycle::linkNoticePerAttempt()
{
    QFETCH(QByteArray, remain);
    QFETCH(int, notices);
    QCopChannel system("QPE/System");
    QSignalSpy spy(&system, &QCopChannel::received);
    auto c = startCamera("[File]\nSaveWait=0\nRemain=" + remain + "\n");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    QVERIFY(card->control("shutter\n"));
    QTRY_COMPARE(c->settings().serial, 1);
    // The second attempt fails: the folder is gone and a file stands in its place.
    QVERIFY(QDir(env->home + "/Documents/Image_Files").removeRecursively());
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly));
    bool boxClosed = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
            boxClosed = true;
        }
    });
    poll.start(10);
    QVERIFY(card->control("shutter\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boxClosed, 10000);
    poll.stop();
    QTest::qWait(200);
    int seen = 0;
    for (const QList<QVariant>& message : spy)
        seen += message.at(0).toByteArray() == "linkChanged(QString)";
    QCOMPARE(seen, notices);
    QCOMPARE(c->settings().serial, 1);
}

// Delete: "Fr..." on the counter at once, frames per second after ten seconds, with full
// screen left to show it.
void TestCaptureCycle::frameRate()
{
    auto c = startCamera("[Option]\nDispMode=1\n");
    QTRY_VERIFY(card->logLines().contains("read 153600 153600"));
    c->ButtonFullScreen();
    QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    QTest::keyClick(c->fullScreenFrame(), Qt::Key_Delete);
    QLCDNumber reference;
    reference.setDigitCount(c->LCDNumber1->digitCount());
    reference.setSegmentStyle(c->LCDNumber1->segmentStyle());
    reference.setFrameShape(c->LCDNumber1->frameShape());
    reference.resize(c->LCDNumber1->size());
    reference.setPalette(c->LCDNumber1->palette());
    reference.display(QStringLiteral("Fr..."));
    QCOMPARE(c->LCDNumber1->grab().toImage().convertToFormat(QImage::Format_RGB32),
             reference.grab().toImage().convertToFormat(QImage::Format_RGB32));
    QVERIFY(c->options().fullScreen);
    card->clearLog();
    QTRY_VERIFY_WITH_TIMEOUT(!c->options().fullScreen, 12000);
    // Frames read in the ten seconds, as a figure with one decimal.
    const double shown = c->LCDNumber1->value();
    const int frames = countOf(card->logLines(), "read 153600 153600");
    QVERIFY2(shown > 0 && qAbs(shown * 10 - qRound(shown * 10)) < 1e-6, qPrintable(QString::number(shown)));
    // The log is counted from a little after the start to a little after the end.
    QVERIFY2(qAbs(shown * 10 - frames) <= frames / 20 + 3, qPrintable(QString("%1 shown, %2 frames").arg(shown).arg(frames)));
}

QTEST_MAIN(TestCaptureCycle)
#include "tst_capturecycle.moc"
