// The option controls: wrap rules, the format and zoom searches, what the form shows and
// what the device and the capture image follow.
#include "device/cameradevice.h"
#include "options/captureformats.h"
#include "support/testenvironment.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>

class TestOptionControls : public QObject {
    Q_OBJECT
private slots:
    void displayModeCycles_data();
    void displayModeCycles();
    void resolutionCycles_data();
    void resolutionCycles();
    void fullScreenButtonFollowsFormat();
    void zoomSearch();
    void zoomStepsThroughFamily_data();
    void zoomStepsThroughFamily();
    void zoomMinusOneTakesMaximum();
    void displayModeChangeWithZoomAny();
    void noFormatOfTheModeKeepsTheStart();
    void mirrorModeBits();
    void twoValuedWrap_data();
    void twoValuedWrap();
    void slowCaptureNeedsBitZero();
    void saveDirectionExchangesCaptureImage();
    void saveDirectionHiddenIsInert();
    void storageFallsBackWithoutCard();
    void storageCardChosenWhenUsable();
};

void TestOptionControls::displayModeCycles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("two modes") << QByteArray("") << QStringList{"Portrait", "Landscape", "Portrait"};
    QTest::newRow("three modes") << QByteArray("[Option]\nDispModeMax=3\n")
                                 << QStringList{"Portrait", "Square", "Landscape"};
}

void TestOptionControls::displayModeCycles()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, names);
    TestEnvironment env;
    env.writeSettings(file);
    auto c = env.makeCamera();
    QCOMPARE(c->PushButton4->text(), QString("Landscape"));
    for (const QString& name : names) {
        c->ButtonDispMode();
        QCOMPARE(c->PushButton4->text(), name);
    }
    QCOMPARE(c->selectDispMode(-1), c->settings().dispModeMax - 1);
}

void TestOptionControls::resolutionCycles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("portrait") << QByteArray() << 1 << QStringList{"480x640", "240x320", "120x160", "480x640"};
    QTest::newRow("landscape") << QByteArray() << 0 << QStringList{"480x320", "240x160", "480x320"};
    QTest::newRow("landscape, all 13") << QByteArray("[Option]\nResolutionMax=13\n") << 0
                                       << QStringList{"480x320", "240x160", "120x80", "480x320"};
    QTest::newRow("square, all 13") << QByteArray("[Option]\nResolutionMax=13\nDispModeMax=3\n") << 2
                                    << QStringList{"480x480", "240x240", "160x160", "80x80", "256x256",
                                                   "128x128", "64x64", "480x480"};
}

void TestOptionControls::resolutionCycles()
{
    QFETCH(QByteArray, file);
    QFETCH(int, mode);
    QFETCH(QStringList, names);
    TestEnvironment env;
    env.writeSettings(file);
    auto c = env.makeCamera();
    c->selectDispMode(mode);
    QCOMPARE(c->PushButton1->text(), names.first());
    for (int i = 1; i < names.size(); ++i) {
        c->ButtonResolution();
        QCOMPARE(c->PushButton1->text(), names[i]);
        int w = 0, h = 0;
        c->formatGeometry(&w, &h, false);
        QCOMPARE(c->captureFrame().size(), QSize(w, h));
        QCOMPARE(c->captureFrame().format(), QImage::Format_RGB16);
    }
}

void TestOptionControls::fullScreenButtonFollowsFormat()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nResolutionMax=13\nDispModeMax=3\n");
    auto c = env.makeCamera();
    for (int i = 0; i < captureFormatCount; ++i) {
        c->selectDispMode(captureFormats[i].displayMode());
        QCOMPARE(c->selectResolution(i), i);
        const bool landscape = captureFormats[i].displayMode() == Landscape;
        QCOMPARE(c->PushButton6->isEnabled(), !landscape);
    }
}

void TestOptionControls::zoomSearch()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    c->selectDispMode(1);
    QCOMPARE(c->PushButton1->text(), QString("480x640"));
    QVERIFY(!c->CheckBox1->isEnabled());
    QVERIFY(!c->CheckBox1->isChecked());

    QTest::keyClick(c.get(), Qt::Key_Z);
    QVERIFY(c->options().zoomAny);
    QVERIFY(c->CheckBox1->isEnabled());

    c->CheckBox1->click(); // checked: zoom 1 moves on to the format zoomed that far
    QCOMPARE(c->PushButton1->text(), QString("240x320"));
    QCOMPARE(c->options().zoom, 1);
    QVERIFY(c->CheckBox1->isChecked());

    c->CheckBox1->click(); // unchecked: the format stays
    QCOMPARE(c->PushButton1->text(), QString("240x320"));
    QCOMPARE(c->options().zoom, 0);
    QVERIFY(!c->CheckBox1->isChecked());
}

void TestOptionControls::zoomStepsThroughFamily_data()
{
    QTest::addColumn<bool>("zoomAny");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("lastZoom");
    QTest::newRow("without zoomAny") << false << QString("480x640") << 0;
    QTest::newRow("with zoomAny") << true << QString("240x320") << 1;
}

void TestOptionControls::zoomStepsThroughFamily()
{
    QFETCH(bool, zoomAny);
    QFETCH(QString, last);
    QFETCH(int, lastZoom);
    TestEnvironment env;
    auto c = env.makeCamera();
    c->selectDispMode(1);
    c->ButtonResolution(); // 240x320
    c->selectZoom(1);
    if (zoomAny)
        QTest::keyClick(c.get(), Qt::Key_Z);
    QCOMPARE(c->options().zoom, 1);
    c->ButtonResolution();
    QCOMPARE(c->PushButton1->text(), QString("120x160"));
    QCOMPARE(c->options().zoom, 1);
    c->ButtonResolution();
    QCOMPARE(c->PushButton1->text(), last);
    QCOMPARE(c->options().zoom, lastZoom);
    QCOMPARE(c->CheckBox1->isChecked(), lastZoom != 0);
    QCOMPARE(c->CheckBox1->isEnabled(), zoomAny);
}

void TestOptionControls::zoomMinusOneTakesMaximum()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    c->selectDispMode(1);
    c->selectResolution(7); // 120x160, zoom up to 2
    QCOMPARE(c->selectZoom(-1), 2);
    QCOMPARE(c->selectZoom(3), 0); // above the maximum without zoomAny
}

void TestOptionControls::displayModeChangeWithZoomAny()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QTest::keyClick(c.get(), Qt::Key_Z);
    c->selectDispMode(1);
    c->selectZoom(1);
    QCOMPARE(c->PushButton1->text(), QString("240x320"));
    c->ButtonDispMode(); // back to Landscape: the zoom search moves past 480x320
    QCOMPARE(c->PushButton1->text(), QString("240x160"));
    QCOMPARE(c->options().zoom, 1);
}

void TestOptionControls::noFormatOfTheModeKeepsTheStart()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nResolutionMax=2\nDispModeMax=3\nDispMode=0\n");
    auto c = env.makeCamera();
    // Neither 480x640 nor 480x480 is Landscape: one cycle, then the start index.
    QCOMPARE(c->settings().resolution, 0);
    QCOMPARE(c->selectResolution(1), 1);
    QCOMPARE(c->selectResolution(5), 0);
}

void TestOptionControls::mirrorModeBits()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    const int base = c->device().mode();
    QCOMPARE(base & 12, 0);
    QCOMPARE(c->selectMirror(1), 1);
    QCOMPARE(c->device().mode(), base | 12);
    QVERIFY(!c->PushButton5->icon().isNull());
    QCOMPARE(c->selectMirror(0), 0);
    QCOMPARE(c->device().mode(), base);
}

void TestOptionControls::twoValuedWrap_data()
{
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("settled");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("2 wraps to 0") << 2 << 0;
    QTest::newRow("-1 wraps to 1") << -1 << 1;
    QTest::newRow("huge") << 0x7fffffff << 0;
}

void TestOptionControls::twoValuedWrap()
{
    QFETCH(int, wanted);
    QFETCH(int, settled);
    TestEnvironment env;
    env.writeSettings("[Option]\nSaveDirection=0\n");
    auto c = env.makeCamera();
    QCOMPARE(c->selectMirror(wanted), settled);
    QCOMPARE(c->selectQuality(wanted), settled);
    QCOMPARE(c->PushButton2->text(), settled ? QString("Fine") : QString("Normal"));
    QCOMPARE(c->selectSaveDirection(wanted), settled);
}

void TestOptionControls::slowCaptureNeedsBitZero()
{
    {
        // Closed before the next environment: a window writes its settings where HOME and
        // XDG_CONFIG_HOME point when it goes.
        TestEnvironment env;
        env.writeSettings("[Option]\nSlowCapture=12\n");
        auto c = env.makeCamera();
        QCOMPARE(c->selectSlowCapture(1), 0);
        QCOMPARE(c->settings().slowCapture, 12);
        QCOMPARE(c->device().mode() & 2, 0);
    }

    TestEnvironment env2;
    env2.writeSettings("[Option]\nSlowCapture=13\n");
    auto d = env2.makeCamera();
    QCOMPARE(d->selectSlowCapture(1), 1);
    QCOMPARE(d->settings().slowCapture, 15);
    QCOMPARE(d->device().mode() & 2, 2);
    QTest::keyClick(d.get(), Qt::Key_F);
    QCOMPARE(d->settings().slowCapture, 13);
    QCOMPARE(d->device().mode() & 2, 0);
}

void TestOptionControls::saveDirectionExchangesCaptureImage()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nSaveDirection=1\nDispMode=1\n");
    auto c = env.makeCamera();
    QCOMPARE(c->PushButton1->text(), QString("480x640"));
    QCOMPARE(c->captureFrame().size(), QSize(640, 480));
    QCOMPARE(c->selectSaveDirection(0), 0);
    QCOMPARE(c->captureFrame().size(), QSize(480, 640));
    int w = 0, h = 0;
    QCOMPARE(c->formatGeometry(&w, &h, true), 7);
    QCOMPARE(QSize(w, h), QSize(120, 160));
    c->setFullScreen(true);
    QCOMPARE(c->formatGeometry(&w, &h, true), 3);
    QCOMPARE(QSize(w, h), QSize(240, 320));
}

void TestOptionControls::saveDirectionHiddenIsInert()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QVERIFY(c->PushButton7->isHidden());
    QCOMPARE(c->selectSaveDirection(0), -1);
    QCOMPARE(c->selectSaveDirection(1), -1);
    QCOMPARE(c->settings().saveDirection, -1);
}

void TestOptionControls::storageFallsBackWithoutCard()
{
    TestEnvironment env;
    QByteArray missing = QFile::encodeName(env.dir.filePath("no-card/"));
    env.paths.cardFolder = missing.constData();
    auto c = env.makeCamera();
    QCOMPARE(c->selectSaveTo(1), 0);
    QVERIFY(!c->PushButton3->isEnabled());
    QVERIFY(c->TextLabel4->isHidden());
    c->ButtonSaveTo();
    QCOMPARE(c->settings().saveTo, 0);
}

void TestOptionControls::storageCardChosenWhenUsable()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QCOMPARE(c->selectSaveTo(1), 1);
    QVERIFY(c->PushButton3->isEnabled());
    QCOMPARE(c->PushButton3->text(), QString("Memory Card"));
    c->ButtonSaveTo();
    QCOMPARE(c->settings().saveTo, 0);
    QCOMPARE(c->PushButton3->text(), QString("Internal"));
}

QTEST_MAIN(TestOptionControls)
#include "tst_optioncontrols.moc"
