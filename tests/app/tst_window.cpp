// The main window's life: what it builds, the start values the settings leave, and the
// order of its shutdown on the wire and on disk.
#include "device/cameradevice.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"
#include "viewfinder/myframe.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void builtAsAWindow();
    void previewImageShape_data();
    void previewImageShape();
    void directionButtonVisibility_data();
    void directionButtonVisibility();
    void choicesAtStart_data();
    void choicesAtStart();
    void choicesWrittenBackAtExit();
    void longHomeRefusedByTheProbe_data();
    void longHomeRefusedByTheProbe();
    void mirrorAlwaysStartsOff();
    void activationRestoresFullScreen();
    void closeStopsTheCycle();
    void shutdownOrder();
    void elapsedTime_data();
    void elapsedTime();
};

void TestWindow::builtAsAWindow()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QCOMPARE(c->size(), QSize(240, 320));
    QCOMPARE(c->windowTitle(), QString("Camera"));
    QVERIFY(c->isWindow());
    QVERIFY(!(c->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(c->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!c->windowIcon().isNull());
    QVERIFY(c->TextLabel4->isHidden());
    QCOMPARE(c->Frame1->lineWidth(), 0);
    QCOMPARE(c->viewfinder(), static_cast<QWidget*>(c->Frame1));
    QVERIFY(c->PushButton6->text().isEmpty());
    QVERIFY(!c->PushButton6->icon().isNull());
    QVERIFY(c->fullScreenFrame()->isWindow());
    QVERIFY(c->fullScreenFrame()->isHidden());
    QCOMPARE(c->fullScreenFrame()->size(), QSize(240, 320));
    QCOMPARE(c->cycle().geometryKey, -1);
    QCOMPARE(c->screenSaverLevel(), -1);
    QCOMPARE(c->PushButton4->text(), QString("Landscape"));
    QCOMPARE(c->PushButton1->text(), QString("480x320"));
    QCOMPARE(c->PushButton2->text(), QString("Normal"));
    QCOMPARE(c->PushButton3->text(), QString("Internal"));
    QVERIFY(!c->PushButton6->isEnabled()); // Landscape formats have no full screen
}

void TestWindow::previewImageShape_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QSize>("size");
    QTest::newRow("default, bit 3 set") << QByteArray() << QSize(320, 240);
    QTest::newRow("SlowCapture 0") << QByteArray("[Option]\nSlowCapture=0\n") << QSize(240, 320);
    QTest::newRow("SlowCapture 7") << QByteArray("[Option]\nSlowCapture=7\n") << QSize(240, 320);
    QTest::newRow("SlowCapture 8, portrait format") << QByteArray("[Option]\nSlowCapture=8\nDispMode=1\n") << QSize(320, 240);
}

void TestWindow::previewImageShape()
{
    QFETCH(QByteArray, settings);
    QFETCH(QSize, size);
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    QCOMPARE(c->previewFrame().size(), size);
    QCOMPARE(c->previewFrame().format(), QImage::Format_RGB16);
    QCOMPARE(*reinterpret_cast<const quint16*>(c->previewFrame().constBits()), quint16(255));
    QCOMPARE(*reinterpret_cast<const quint16*>(c->captureFrame().constBits()), quint16(255));
}

void TestWindow::directionButtonVisibility_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("absent") << QByteArray() << true;
    QTest::newRow("-1") << QByteArray("[Option]\nSaveDirection=-1\n") << true;
    QTest::newRow("-7") << QByteArray("[Option]\nSaveDirection=-7\n") << true;
    QTest::newRow("0") << QByteArray("[Option]\nSaveDirection=0\n") << false;
    QTest::newRow("1") << QByteArray("[Option]\nSaveDirection=1\n") << false;
    QTest::newRow("2") << QByteArray("[Option]\nSaveDirection=2\n") << false;
}

void TestWindow::directionButtonVisibility()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, hidden);
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    QCOMPARE(c->PushButton7->isHidden(), hidden);
    if (!hidden)
        QVERIFY(!c->PushButton7->icon().isNull());
}

// The settings' choices as the window settles them against the formats and buttons.
void TestWindow::choicesAtStart_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("dispMode");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("saveDirection");
    QTest::newRow("no file: the first landscape format") << QByteArray() << 0 << 2 << -1;
    QTest::newRow("DispMode 1 of 2") << QByteArray("[Option]\nDispMode=1\n") << 1 << 0 << -1;
    QTest::newRow("SaveDirection 5 becomes 0") << QByteArray("[Option]\nSaveDirection=5\n") << 0 << 2 << 0;
}

void TestWindow::choicesAtStart()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, dispMode);
    QFETCH(int, resolution);
    QFETCH(int, saveDirection);
    TestEnvironment env;
    if (!settings.isEmpty())
        env.writeSettings(settings);
    auto c = env.makeCamera();
    QCOMPARE(c->settings().dispMode, dispMode);
    QCOMPARE(c->settings().resolution, resolution);
    QCOMPARE(c->settings().saveDirection, saveDirection);
}

// What the user changed reaches the file at exit, by the settings' write-back rule: the
// buttons' and the V key's choices, the first only where the file holds its key.
void TestWindow::choicesWrittenBackAtExit()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nDispMode=0\nDispModeMax=2\nQualityFine=95\nSaveDirection=-1\n");
    {
        auto camera = env.makeCamera();
        camera->ButtonDispMode(); // Portrait
        camera->ButtonQuality();  // Fine, but the file has no Quality key
        QTest::keyClick(camera.get(), Qt::Key_V);
    }
    const QByteArray text = env.readSettings();
    QVERIFY2(text.contains("DispMode=1\n"), text);
    QVERIFY2(!text.contains("Quality="), text);
    QVERIFY2(!text.contains("Resolution="), text);
    QVERIFY2(text.contains("QualityFine=95\n"), text);
    QVERIFY2(text.contains("DispModeMax=2\n"), text);
    QVERIFY2(text.contains("SaveDirection=0\n"), text);
}

// The probe takes base folders of up to 99 bytes; a longer HOME counts as unusable.
void TestWindow::longHomeRefusedByTheProbe_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("usable");
    QTest::newRow("99 characters") << 99 << true;
    QTest::newRow("100 characters: the probe refuses") << 100 << false;
    QTest::newRow("250 characters") << 250 << false;
    QTest::newRow("280 characters") << 280 << false;
    QTest::newRow("4000 characters") << 4000 << false;
}

void TestWindow::longHomeRefusedByTheProbe()
{
    QFETCH(int, length);
    QFETCH(bool, usable);
    TestEnvironment env;
    QString home = env.dir.path() + '/';
    while (home.size() < length)
        home += 'h';
    env.homePath = QFile::encodeName(home);
    env.paths.home = env.homePath.constData();
    if (length < 4000)
        QDir().mkpath(home);
    auto c = env.makeCamera();
    QCOMPARE(c->probeStorage(0, nullptr, nullptr), usable);
}

void TestWindow::mirrorAlwaysStartsOff()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nMirror=1\n");
    auto c = env.makeCamera();
    QCOMPARE(c->options().mirror, 0);
    QCOMPARE(c->device().mode() & 12, 0);
    QCOMPARE(c->options().zoom, 0);
    QVERIFY(!c->options().zoomAny);
}

void TestWindow::activationRestoresFullScreen()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nDispMode=1\n");
    auto c = env.makeCamera();
    c->show();
    c->ButtonFullScreen();
    QVERIFY(c->fullScreenFrame()->isVisible());
    c->fullScreenFrame()->hide(); // as if another application had come to the front
    c->activateWindow();
    QTRY_VERIFY(c->fullScreenFrame()->isVisible());
    QVERIFY(c->options().fullScreen);
}

void TestWindow::closeStopsTheCycle()
{
    TestEnvironment env;
    auto c = std::make_unique<Camera>();
    QCOMPARE(c->runningTimers(), 1);
    c->close();
    QCOMPARE(c->runningTimers(), 0);
}

void TestWindow::shutdownOrder()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    CardMount card;
    QVERIFY(card.start());
    const QByteArray node = card.node("vdc");
    TestEnvironment env;
    env.paths.deviceNode = node.constData();
    {
        auto c = env.makeCamera();
        c->selectMirror(1);
        QVERIFY(!QFile::exists(env.settingsPath()));
    }
    QVERIFY(QFile::exists(env.settingsPath()));
    const QStringList lines = card.logLinesUntil("close");
    QCOMPARE(lines, QStringList({"open", "write M=1", "write M=13", "write M=0", "close"}));
}

void TestWindow::elapsedTime_data()
{
    QTest::addColumn<uint>("stamp");
    QTest::addColumn<uint>("now");
    QTest::addColumn<uint>("elapsed");
    // A stamp is the clock ORed with 1.
    QTest::newRow("stamp of an even ms, same ms") << 1001u << 1000u << 0u;
    QTest::newRow("stamp of an even ms, next ms") << 1001u << 1001u << 0u;
    QTest::newRow("stamp of an odd ms, same ms") << 1001u << 1001u << 0u;
    QTest::newRow("a second later") << 1001u << 2001u << 1000u;
    QTest::newRow("across the 32-bit wrap") << 0xffffffffu << 998u << 1000u;
    QTest::newRow("clock set back") << 5001u << 1000u << uint(0u - 4000u);
}

void TestWindow::elapsedTime()
{
    QFETCH(uint, stamp);
    QFETCH(uint, now);
    QFETCH(uint, elapsed);
    QCOMPARE(uint(Camera::elapsedMs(stamp, now)), elapsed);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
