// The capture cycle against the card emulator: the preview's traffic, the picture on the
// screen, messages, the card's buttons and bits, a lost card and a missing one.
#include "platform/virtualscreen.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"
#include "viewfinder/myframe.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLCDNumber>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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
    QTest::newRow("direct frame buffer") << QByteArray("");
    QTest::newRow("painter") << QByteArray("[Option]\nSlowCapture=0\n");
}

void TestCaptureCycle::previewUpright()
{
    QFETCH(QByteArray, settings);
    auto c = startCamera(settings);
    QTRY_VERIFY(countOf(card->logLines(), "read 153600 153600") >= 3);
    QTest::qWait(50);
    QImage shown;
    QPoint origin;
    if (settings.isEmpty()) {
        shown = pda::logicalScreenshot().convertToFormat(QImage::Format_RGB32);
        origin = c->Frame1->mapToGlobal(QPoint(0, 0)) - c->screen()->geometry().topLeft();
    } else {
        shown = c->Frame1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    QVERIFY(!shown.isNull());
    const QPoint at[4] = {{60, 40}, {180, 40}, {60, 120}, {180, 120}};
    QVERIFY2(isRed(shown.pixelColor(origin + at[0])), qPrintable(shown.pixelColor(origin + at[0]).name()));
    QVERIFY(isGreen(shown.pixelColor(origin + at[1])));
    QVERIFY(isBlue(shown.pixelColor(origin + at[2])));
    QVERIFY(isYellow(shown.pixelColor(origin + at[3])));
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
        QVERIFY(card->control("shutter\n"));
        QTRY_COMPARE(c->settings().serial, n);
        QElapsedTimer shown;
        shown.start();
        QTRY_VERIFY(card->logLines().contains("write B"));
        QVERIFY2(shown.elapsed() >= 250, qPrintable(QString("picture %2: B after %1 ms").arg(shown.elapsed()).arg(n)));
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
    QTimer::singleShot(300, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
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

QTEST_MAIN(TestCaptureCycle)
#include "tst_capturecycle.moc"
