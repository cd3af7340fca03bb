// The capture cycle's rules against a scripted card in the window's slot: the orders on the
// wire, the card's bits, the messages and boxes, a lost card and a missing one, and the
// frame-rate figure. The clock is the test's, so waits end exactly when it says.
#include "support/boxanswerer.h"
#include "support/scriptedcard.h"
#include "support/testenvironment.h"
#include "platform/qcop.h"
#include "viewfinder/myframe.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLCDNumber>
#include <QMessageBox>
#include <QPointer>
#include <QPointingDevice>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

namespace {

const QString previewRead = QStringLiteral("read 153600 153600");

// Where a widget shows anything but its black background: the frame it shows.
QRect shownFrame(QWidget* widget)
{
    const QImage shown = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < shown.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            if (qGray(line[x]) > 8)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

class TestCycleRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void previewTraffic_data();
    void previewTraffic();
    void zoomSendsNewGeometry();
    void savedMessageHoldsThePreview();
    void pressAnsweredWithB_data();
    void pressAnsweredWithB();
    void orientationDrivesMirror_data();
    void orientationDrivesMirror();
    void turnedCardAfterSaveDirectionBack();
    void mirrorByHandOutlivesOtherBits_data();
    void mirrorByHandOutlivesOtherBits();
    void busyCardSkipsFrames();
    void failedSavesWhileBusyLeaveOneTick();
    void lostCardComesBack();
    void missingCardBoxThenClose();
    void linkNoticePerAttempt_data();
    void linkNoticePerAttempt();
    void frameRate_data();
    void frameRate();
    void largerScreen_data();
    void largerScreen();

private:
    std::unique_ptr<Camera> startCamera(const QByteArray& settings);
    // Lets the cycle run until the card has answered `n` more status reads.
    void ticks(int n);

    std::shared_ptr<ScriptedCard> card;
    std::unique_ptr<TestEnvironment> env;
    uint32_t now = 0;

    // A box the camera opens runs a loop of its own inside the cycle's tick: one that no
    // test answers would hold the test there until ctest gives up. The guard closes a box
    // left open far longer than any wait here, and the test fails.
    QTimer boxGuard;
    QPointer<QWidget> openBox;
    QElapsedTimer openFor;
    QString unanswered;
};

void TestCycleRules::initTestCase()
{
    constexpr qint64 unansweredAfterMs = 20000;
    boxGuard.setInterval(100);
    connect(&boxGuard, &QTimer::timeout, this, [this] {
        QWidget* box = QApplication::activeModalWidget();
        if (box != openBox) {
            openBox = box;
            openFor.start();
            return;
        }
        if (box && openFor.hasExpired(unansweredAfterMs)) {
            if (auto* message = qobject_cast<QMessageBox*>(box))
                unanswered = message->text();
            else
                unanswered = box->windowTitle();
            box->close();
            openBox = nullptr;
        }
    });
}

void TestCycleRules::init()
{
    card = std::make_shared<ScriptedCard>();
    env = std::make_unique<TestEnvironment>();
    now = 1000000; // even: a stamp taken now lies 1 ms ahead of it
    unanswered.clear();
    openBox = nullptr;
    boxGuard.start();
}

void TestCycleRules::cleanup()
{
    boxGuard.stop();
    env.reset();
    card.reset();
    if (!unanswered.isEmpty())
        QFAIL(qPrintable(QStringLiteral("a box nobody answered: ") + unanswered));
}

std::unique_ptr<Camera> TestCycleRules::startCamera(const QByteArray& settings)
{
    env->writeSettings(settings);
    CameraRuntime scripted;
    scripted.card = card;
    scripted.clock = [this] { return now; };
    auto c = std::make_unique<Camera>(nullptr, nullptr, Qt::WindowFlags(), env->paths, scripted);
    c->setWindowFlags(c->windowFlags() | Qt::FramelessWindowHint);
    c->move(0, 0);
    c->show();
    c->activateWindow();
    if (!QTest::qWaitForWindowActive(c.get()))
        qWarning("window not active");
    return c;
}

void TestCycleRules::ticks(int n)
{
    const int target = card->count("read 4 4") + n;
    QTRY_VERIFY(card->count("read 4 4") >= target);
}

void TestCycleRules::previewTraffic_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("frame");
    QTest::newRow("direct, with C") << QByteArray("")
        << QStringList{"write S=160,240,256,640", "write M=0", previewRead, "write M=1", "write C"};
    QTest::newRow("painter, no C") << QByteArray("[Option]\nSlowCapture=0\n")
        << QStringList{"write R=240,160,256,480", "write M=0", previewRead, "write M=1"};
    QTest::newRow("slow capture on") << QByteArray("[Option]\nSlowCapture=6\n")
        << QStringList{"write M=3", "write R=240,160,256,480", "write M=2", previewRead, "write M=3", "write C"};
}

void TestCycleRules::previewTraffic()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, frame);
    auto c = startCamera(settings);
    QTRY_VERIFY(card->count(previewRead) >= 5);
    QCOMPARE(card->wire.mid(0, 2), QStringList({"open", "write M=1"}));
    const QStringList traffic = card->withoutStatus().mid(2);
    QCOMPARE(traffic.mid(0, frame.size()), frame);
    // Later frames repeat without the geometry.
    const QStringList again = frame.filter(QRegularExpression("^(write M|read|write C)"))
                                  .mid(frame.first() == "write M=3" ? 1 : 0);
    QCOMPARE(traffic.mid(frame.size(), again.size()), again);
    QCOMPARE(traffic.filter(QRegularExpression("^write [RS]=")).size(), 1);
    // The status word is read before every frame.
    const int firstFrame = int(card->wire.indexOf(previewRead));
    QCOMPARE(card->wire.at(card->wire.lastIndexOf("read 4 4", firstFrame)), QString("read 4 4"));
}

void TestCycleRules::zoomSendsNewGeometry()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->wire.contains(previewRead));
    c->ButtonResolution(); // 240x160, zoom allowed
    c->CheckBox1->click();
    QCOMPARE(c->options().zoom, 1);
    QTRY_VERIFY(card->wire.contains("write S=160,240,512,640"));
    QCOMPARE(c->cycle().geometryKey, 1 + 4 * 5);
}

// "Saved" freezes the preview for exactly SaveWait ms of the clock; presses meanwhile are
// not acted on, and "B" ends the shutter event when the message goes.
void TestCycleRules::savedMessageHoldsThePreview()
{
    auto c = startCamera("[File]\nSaveWait=600\n");
    QTRY_VERIFY(card->wire.contains(previewRead));
    c->ButtonShutter();
    QTRY_VERIFY(c->cycle().messageShownMs != 0);
    QVERIFY(c->TextLabel4->isVisible());
    QCOMPARE(c->TextLabel4->text(), QString("Saved"));
    QCOMPARE(c->settings().serial, 1);
    card->wire.clear();
    c->ButtonShutter(); // dropped when the message ends
    card->press();      // not acted upon: no buzzer, no "B", no picture
    now += 599;
    ticks(5);
    QCOMPARE(card->count(previewRead), 0);
    QCOMPARE(card->count("write B"), 0);
    QVERIFY(c->TextLabel4->isVisible());
    now += 1;
    QTRY_VERIFY(c->TextLabel4->isHidden());
    QCOMPARE(c->cycle().messageShownMs, 0u);
    QCOMPARE(card->count("write B"), 1);
    QTRY_VERIFY(card->wire.contains(previewRead));
    ticks(3);
    QCOMPARE(c->settings().serial, 1);
    QCOMPARE(card->wire.filter(QRegularExpression("^write R=480")).size(), 0);
    QVERIFY(!QFile::exists(env->home + "/Documents/Image_Files/pic0002.jpg"));
}

void TestCycleRules::pressAnsweredWithB_data()
{
    QTest::addColumn<bool>("boxOpen");
    QTest::newRow("another window in front") << false;
    QTest::newRow("the save-failure box open") << true;
}

// The card's button while the camera is not what the user looks at: "B" at once, no
// picture. Behind the save-failure box that holds even where the window system still
// reports the main window as active; the box's own press gets its "B" when it closes.
void TestCycleRules::pressAnsweredWithB()
{
    QFETCH(bool, boxOpen);
    QDir().mkpath(env->home + "/Documents");
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly)); // every save fails
    auto c = startCamera("");
    QTRY_VERIFY(card->wire.contains(previewRead));
    QWidget other;
    if (!boxOpen) {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!c->isActiveWindow());
    }
    int boxes = 0;
    int bsWhileOpen = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!box->property("seen").toBool()) {
            box->setProperty("seen", true);
            ++boxes;
            return;
        }
        QApplication::setActiveWindow(c.get()); // as a window system would, for a while
        if (card->shutter)
            return;
        if (bsWhileOpen == 0 && card->count("write B") == 1) {
            bsWhileOpen = 1;
            card->press(); // a second press while the box is open
            return;
        }
        if (bsWhileOpen == 1 && card->count("write B") == 2) {
            bsWhileOpen = 2;
            box->accept();
        }
    });
    poll.start(10);
    card->press();
    if (boxOpen) {
        QTRY_VERIFY_WITH_TIMEOUT(card->count("write B") == 3, 10000);
        QCOMPARE(boxes, 1);
        QCOMPARE(bsWhileOpen, 2);
    } else {
        QTRY_COMPARE(card->count("write B"), 1);
        ticks(3);
        QCOMPARE(boxes, 0);
    }
    poll.stop();
    ticks(3);
    QCOMPARE(card->wire.filter(QRegularExpression("^write R=480")).size(), boxOpen ? 1 : 0);
    QCOMPARE(c->settings().serial, 0);
}

void TestCycleRules::orientationDrivesMirror_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("follows");
    QTest::newRow("direction hidden") << QByteArray("") << true;
    QTest::newRow("direction up") << QByteArray("[Option]\nSaveDirection=0\n") << true;
    QTest::newRow("direction back") << QByteArray("[Option]\nSaveDirection=1\n") << false;
}

void TestCycleRules::orientationDrivesMirror()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, follows);
    auto c = startCamera(settings);
    QTRY_VERIFY(card->wire.contains(previewRead));
    card->turned = true;
    ticks(3);
    QCOMPARE(c->options().mirror, follows ? 1 : 0);
    QCOMPARE(card->wire.contains("write M=13"), follows);
    card->turned = false;
    ticks(3);
    QCOMPARE(c->options().mirror, 0);
}

void TestCycleRules::turnedCardAfterSaveDirectionBack()
{
    auto c = startCamera("[Option]\nSaveDirection=0\n");
    card->turned = true;
    QTRY_COMPARE(c->options().mirror, 1);
    c->PushButton7->click(); // "back": the mirror goes off and the turned card is ignored
    ticks(3);
    QCOMPARE(c->options().mirror, 0);
    c->PushButton7->click(); // "up": the card, still turned, sets the mirror again
    QTRY_COMPARE(c->options().mirror, 1);
}

void TestCycleRules::mirrorByHandOutlivesOtherBits_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("the card busy, then free") << "busy";
    QTest::newRow("the card's button") << "button";
}

// Only the orientation bit turns the mirror: a mirror the user set stays through a change of
// any other bit of the status word.
void TestCycleRules::mirrorByHandOutlivesOtherBits()
{
    QFETCH(QString, change);
    auto c = startCamera("[File]\nSaveWait=0\n");
    QTRY_VERIFY(card->wire.contains(previewRead));
    c->ButtonMirror();
    QCOMPARE(c->options().mirror, 1);
    if (change == "busy") {
        card->busy = true;
        ticks(2);
        card->busy = false;
    } else {
        card->press();
        QTRY_COMPARE(c->settings().serial, 1);
        QTRY_VERIFY(!card->shutter);
    }
    ticks(3);
    QCOMPARE(c->options().mirror, 1);
}

void TestCycleRules::busyCardSkipsFrames()
{
    auto c = startCamera("");
    QTRY_VERIFY(card->wire.contains(previewRead));
    card->busy = true;
    ticks(1);
    card->wire.clear();
    ticks(5);
    QCOMPARE(card->count(previewRead), 0);
    card->busy = false;
    QTRY_VERIFY(card->wire.contains(previewRead));
}

// The tick started behind each "Save failed!" box goes with the box, also while the busy
// card gives no refresh that would restart the ticks.
void TestCycleRules::failedSavesWhileBusyLeaveOneTick()
{
    QDir().mkpath(env->home + "/Documents");
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly)); // every save fails
    auto c = startCamera("");
    QTRY_VERIFY(card->wire.contains(previewRead));
    card->busy = true;
    ticks(1);
    BoxAnswerer boxes;
    for (int press = 1; press <= 3; ++press) {
        c->ButtonShutter();
        QTRY_COMPARE(boxes.answered, press);
        QCOMPARE(boxes.text, QString("Save failed!\nPlease check storage status."));
        QTRY_COMPARE(card->count("write B"), press);
    }
    ticks(3);
    QCOMPARE(c->runningTimers(), 1);
}

// A card reporting itself absent: closed within the tick, the device made anew once a second
// while it stays away, and the preview back with the slow-capture, mirror and geometry
// commands sent again.
void TestCycleRules::lostCardComesBack()
{
    auto c = startCamera("[Option]\nSlowCapture=14\n");
    QTRY_VERIFY(card->wire.contains(previewRead));
    c->selectMirror(1);
    card->present = false;
    QTRY_VERIFY(c->cycle().deviceLost);
    QCOMPARE(c->runningTimers(), 1);
    QCOMPARE(card->wire.last(), QString("close"));
    card->wire.clear();
    QTRY_VERIFY_WITH_TIMEOUT(card->count("open") >= 2, 5000);
    QCOMPARE(card->count(previewRead), 0);
    QCOMPARE(card->count("close"), card->count("open"));
    card->present = true;
    QTRY_VERIFY_WITH_TIMEOUT(card->wire.contains(previewRead), 3000);
    const QStringList& back = card->wire;
    const int reopened = int(back.lastIndexOf("open", back.indexOf(previewRead)));
    QVERIFY(reopened >= 0);
    // Mode 1 at the start, the slow bit, the mirror bits, then the preview geometry again.
    QCOMPARE(back.mid(reopened, 4), QStringList({"open", "write M=1", "write M=3", "write M=15"}));
    QVERIFY(back.mid(reopened).contains("write S=160,240,256,640"));
    QTRY_COMPARE(c->runningTimers(), 1);
}

void TestCycleRules::missingCardBoxThenClose()
{
    card->pluggedIn = false;
    BoxAnswerer boxes;
    auto c = startCamera("");
    QTRY_COMPARE(boxes.title, QString("Error"));
    QCOMPARE(boxes.text, QString("Insert the Camera Card \n(QD-CM09) before starting \nthe Camera application."));
    QVERIFY(c->cycle().cardErrorShown);
    QTRY_VERIFY_WITH_TIMEOUT(!c->isVisible(), 2000);
    QCOMPARE(c->runningTimers(), 0);
    QCOMPARE(c->lastTickInterval(), 500); // the tick after the box, that closed the window
    QVERIFY(card->wire.isEmpty()); // nothing opened, nothing sent
}

void TestCycleRules::linkNoticePerAttempt_data()
{
    QTest::addColumn<QByteArray>("remain");
    QTest::addColumn<bool>("tickAsBoxCloses");
    QTest::addColumn<int>("notices");
    QTest::newRow("bit 2 clear: one per attempt") << QByteArray("0") << false << 2;
    QTest::newRow("default 4: none during the run") << QByteArray("4") << false << 0;
    // The box closes and a tick comes in the same pass, before the failed save has sent "B":
    // the button the card still holds is the press already served, not a new one.
    QTest::newRow("a tick as the box closes") << QByteArray("0") << true << 2;
}

namespace {

// Holds back the window's ticks while a box is open, so that the first tick the camera sees
// after the box is the one the test sends.
class TicksHeldByBox : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::Timer && QApplication::activeModalWidget() != nullptr;
    }
};

} // namespace

// A document-list notice after each save attempt, the failed one too, where "Remain" asks.
void TestCycleRules::linkNoticePerAttempt()
{
    QFETCH(QByteArray, remain);
    QFETCH(bool, tickAsBoxCloses);
    QFETCH(int, notices);
    QCopChannel system("QPE/System");
    QSignalSpy spy(&system, &QCopChannel::received);
    auto c = startCamera("[File]\nSaveWait=0\nRemain=" + remain + "\n");
    QTRY_VERIFY(card->wire.contains(previewRead));
    card->press();
    QTRY_COMPARE(c->settings().serial, 1);
    // The second attempt fails: the folder is gone and a file stands in its place.
    QVERIFY(QDir(env->home + "/Documents/Image_Files").removeRecursively());
    QFile folderAsFile(env->home + "/Documents/Image_Files");
    QVERIFY(folderAsFile.open(QIODevice::WriteOnly));
    QTRY_VERIFY(!card->shutter);
    TicksHeldByBox held;
    std::unique_ptr<BoxAnswerer> boxes;
    QTimer closer;
    int closed = 0;
    if (tickAsBoxCloses) {
        c->installEventFilter(&held);
        // Only the first box: a second one, the press served again, goes to the answerer.
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || closed > 0)
                return;
            ++closed;
            QVERIFY(card->shutter); // no tick has answered the press behind the box
            boxes = std::make_unique<BoxAnswerer>();
            box->accept();
            QApplication::setActiveWindow(c.get()); // the window system gives it back
            QTimerEvent tick(0);
            QCoreApplication::sendEvent(c.get(), &tick);
        });
        closer.start(10);
    } else {
        boxes = std::make_unique<BoxAnswerer>();
    }
    card->press();
    if (tickAsBoxCloses)
        QTRY_VERIFY_WITH_TIMEOUT(closed > 0 && !card->shutter, 10000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(boxes->answered > 0, 10000);
    c->removeEventFilter(&held);
    closer.stop();
    ticks(3); // a press served twice would show here as another box
    const int late = boxes->answered - (tickAsBoxCloses ? 0 : 1);
    boxes.reset();
    QCOMPARE(late, 0);
    // The bus keeps one sender's messages in order: once this one is back, so is every
    // notice sent before it.
    {
        QCopEnvelope end("QPE/System", "endOfTest()"); // sent as it goes
    }
    const auto count = [&spy](const QByteArray& name) {
        int seen = 0;
        for (const QList<QVariant>& message : spy)
            seen += message.at(0).toByteArray() == name;
        return seen;
    };
    QTRY_COMPARE(count("endOfTest()"), 1);
    QCOMPARE(count("linkChanged(QString)"), notices);
    QCOMPARE(c->settings().serial, 1);
}

void TestCycleRules::frameRate_data()
{
    QTest::addColumn<uint32_t>("start");
    QTest::addColumn<uint32_t>("msPerFrame");
    QTest::addColumn<QString>("shown");
    // The refresh whose time passes 9999 ms ends the measurement uncounted.
    QTest::newRow("100 ms a frame") << 1000000u << 100u << "9.9";
    QTest::newRow("250 ms a frame") << 1000000u << 250u << "3.9";
    QTest::newRow("one a second") << 1000000u << 1000u << "0.9";
    QTest::newRow("across the clock's wrap-around") << 0xfffff000u << 100u << "9.9";
}

// Delete: "Fr..." on the counter at once; the figure once ten seconds have passed, with full
// screen left to show it.
void TestCycleRules::frameRate()
{
    QFETCH(uint32_t, start);
    QFETCH(uint32_t, msPerFrame);
    QFETCH(QString, shown);
    now = start;
    auto c = startCamera("[Option]\nDispMode=1\n");
    QTRY_VERIFY(card->wire.contains(previewRead));
    c->ButtonFullScreen();
    QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    card->onFrame = [&] { now += msPerFrame; };
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
    QTRY_VERIFY_WITH_TIMEOUT(!c->options().fullScreen, 10000);
    QCOMPARE(c->cycle().fpsStartMs, 0u);
    QCOMPARE(QString::number(c->LCDNumber1->value(), 'f', 1), shown);
}

void TestCycleRules::largerScreen_data()
{
    // The window's size, then in it: the Shutter button and the viewfinder's frame, the
    // portrait preview in that frame, and the full-screen preview on a screen that size.
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QRect>("shutter");
    QTest::addColumn<QRect>("viewfinder");
    QTest::addColumn<QRect>("preview");
    QTest::addColumn<QRect>("fullScreen");
    // The last geometry the card was asked for: turned frames for the direct copy, upright
    // ones where the scaled preview is painted, as on any painted screen.
    QTest::addColumn<QString>("request");
    // The size the last resize event tells, where it is not the window's: Qt's Wayland
    // plugin takes a configure that adds its title bar in two steps and reports both in one
    // event that tells the first step's size.
    QTest::addColumn<QSize>("told");
    QTest::newRow("240x320: as laid out") << QSize(240, 320) << QRect(150, 245, 88, 40)
        << QRect(0, 0, 240, 160) << QRect(60, 0, 120, 160) << QRect(0, 0, 240, 320)
        << "write S=160,120,256,640" << QSize();
    QTest::newRow("360x720 phone: 1.5x at the top") << QSize(360, 720) << QRect(225, 368, 132, 60)
        << QRect(0, 0, 360, 240) << QRect(90, 0, 180, 240) << QRect(0, 120, 360, 480)
        << "write R=120,160,256,480" << QSize();
    QTest::newRow("720x360 turned phone: 1.125x, centred across") << QSize(720, 360)
        << QRect(394, 276, 99, 45) << QRect(225, 0, 270, 180) << QRect(67, 0, 135, 180)
        << QRect(225, 0, 270, 360) << "write R=120,160,256,480" << QSize();
    QTest::newRow("354x687 under a title bar, the event telling 240x320") << QSize(354, 687)
        << QRect(221, 361, 130, 59) << QRect(0, 0, 354, 236) << QRect(88, 0, 177, 236)
        << QRect(0, 107, 354, 472) << "write R=120,160,256,480" << QSize(240, 320);
}

// A compositor that gives the window more than the form's 240x320 (a phone's maximised
// window) gets the whole form scaled to fit, in its proportions: a tap lands on the button
// drawn there, and the preview grows with its frame. The card is asked for what it was.
void TestCycleRules::largerScreen()
{
    QFETCH(QSize, window);
    QFETCH(QRect, shutter);
    QFETCH(QRect, viewfinder);
    QFETCH(QRect, preview);
    QFETCH(QRect, fullScreen);
    QFETCH(QString, request);
    QFETCH(QSize, told);
    auto c = startCamera("[Option]\nDispMode=1\n");
    c->resize(window);
    QTRY_COMPARE(c->size(), window);
    if (told.isValid()) {
        QResizeEvent stale(told, told);
        QCoreApplication::sendEvent(c.get(), &stale);
    }
    QCOMPARE(QRect(c->PushButton0->mapTo(c.get(), QPoint(0, 0)), c->PushButton0->size()), shutter);
    QCOMPARE(c->Frame1->geometry(), viewfinder);
    ticks(3);
    QTRY_COMPARE(shownFrame(c->Frame1), preview);
    QCOMPARE(card->wire.filter(QRegularExpression("^write [RS]=")).last(), request);

    std::unique_ptr<QPointingDevice> touch(QTest::createTouchDevice());
    QTest::touchEvent(c->windowHandle(), touch.get()).press(0, shutter.center());
    QTest::touchEvent(c->windowHandle(), touch.get()).release(0, shutter.center());
    QTRY_COMPARE(c->settings().serial, 1);
    now += 60000; // the "Saved" message ends
    QTRY_VERIFY(c->TextLabel4->isHidden());

    c->ButtonFullScreen();
    QVERIFY(QTest::qWaitForWindowActive(c->fullScreenFrame()));
    c->fullScreenFrame()->resize(window);
    ticks(3);
    QTRY_COMPARE(shownFrame(c->fullScreenFrame()), fullScreen);
}

QTEST_MAIN(TestCycleRules)
#include "tst_cyclerules.moc"
