// Keys and taps: the control window's key table, the full-screen key table, the buttons,
// and the message label following the preview.
#include "support/testenvironment.h"
#include "viewfinder/myframe.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

namespace {

// What a key may change, read off the window.
struct Snapshot {
    bool shutterPending;
    bool fullScreen;
    bool zoomAny;
    int dispModeMax;
    int resolutionMax;
    int slowCapture;
    int saveDirection;
    int zoom;
    int mirror;
    bool frameRate;
    bool visible;

    static Snapshot of(const Camera& c)
    {
        return {c.cycle().shutterPending, c.options().fullScreen, c.options().zoomAny, c.settings().dispModeMax, c.settings().resolutionMax,
                c.settings().slowCapture, c.settings().saveDirection, c.options().zoom, c.options().mirror, c.cycle().fpsStartMs != 0,
                c.isVisible()};
    }
    QString describe() const
    {
        return QString("shutter %1 full %2 zoomAny %3 modes %4 formats %5 slow %6 dir %7 zoom %8 "
                       "mirror %9 fps %10 visible %11")
            .arg(shutterPending).arg(fullScreen).arg(zoomAny).arg(dispModeMax).arg(resolutionMax)
            .arg(slowCapture).arg(saveDirection).arg(zoom).arg(mirror).arg(frameRate).arg(visible);
    }
};

const QByteArray settings = "[Option]\nSlowCapture=13\nDispMode=1\n";

} // namespace

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void windowKeys_data();
    void windowKeys();
    void fullScreenKeys_data();
    void fullScreenKeys();
    void tapLeavesFullScreen();
    void frameForwardsEveryPressOnce();
    void labelFollowsThePreview();
    void escapeTwice();
    void keyVShowsTheDirectionButton();
    void saveDirectionButtonAndMirror();
    void buttonsStepTheirOptions();
};

void TestCommands::windowKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("change");
    QTest::newRow("F") << int(Qt::Key_F) << true << "slow 13";
    QTest::newRow("S") << int(Qt::Key_S) << true << "slow 15";
    QTest::newRow("R") << int(Qt::Key_R) << true << "modes 3 formats 13";
    QTest::newRow("V") << int(Qt::Key_V) << true << "dir 0";
    QTest::newRow("Z") << int(Qt::Key_Z) << true << "zoomAny 1";
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true << "visible 0";
    QTest::newRow("Return") << int(Qt::Key_Return) << true << "shutter 1";
    QTest::newRow("Enter") << int(Qt::Key_Enter) << true << "shutter 1";
    QTest::newRow("F33") << int(Qt::Key_F33) << true << "shutter 1";
    QTest::newRow("Delete") << int(Qt::Key_Delete) << true << "fps 1";
    QTest::newRow("F11") << int(Qt::Key_F11) << true << "";
    QTest::newRow("Space") << int(Qt::Key_Space) << false << "";
    QTest::newRow("Left") << int(Qt::Key_Left) << false << "";
    QTest::newRow("Down") << int(Qt::Key_Down) << false << "";
    QTest::newRow("F30") << int(Qt::Key_F30) << false << "";
    QTest::newRow("A") << int(Qt::Key_A) << false << "";
}

void TestCommands::windowKeys()
{
    QFETCH(int, key);
    QFETCH(bool, accepted);
    QFETCH(QString, change);
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    c->show();
    if (key == Qt::Key_F)
        c->selectSlowCapture(1);
    const Snapshot before = Snapshot::of(*c);

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(c.get(), &press);
    QCOMPARE(press.isAccepted(), accepted);

    // Every field not named in `change` stays as it was.
    QStringList expected = before.describe().split(' ');
    const QStringList changed = change.split(' ', Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < changed.size(); i += 2) {
        const int at = expected.indexOf(changed[i]);
        QVERIFY(at >= 0);
        expected[at + 1] = changed[i + 1];
    }
    QCOMPARE(Snapshot::of(*c).describe(), expected.join(' '));
}

void TestCommands::fullScreenKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("change");
    QTest::newRow("Space") << int(Qt::Key_Space) << "full 0";
    QTest::newRow("Escape") << int(Qt::Key_Escape) << "full 0";
    QTest::newRow("F30") << int(Qt::Key_F30) << "full 0";
    QTest::newRow("F") << int(Qt::Key_F) << "slow 13";
    QTest::newRow("S") << int(Qt::Key_S) << "slow 15";
    QTest::newRow("Return") << int(Qt::Key_Return) << "shutter 1";
    QTest::newRow("Enter") << int(Qt::Key_Enter) << "shutter 1";
    QTest::newRow("F33") << int(Qt::Key_F33) << "shutter 1";
    QTest::newRow("Delete") << int(Qt::Key_Delete) << "fps 1";
    QTest::newRow("Left") << int(Qt::Key_Left) << "zoom 0";
    QTest::newRow("Right") << int(Qt::Key_Right) << "zoom 1";
    QTest::newRow("Up") << int(Qt::Key_Up) << "mirror 0";
    QTest::newRow("Down") << int(Qt::Key_Down) << "mirror 1";
    QTest::newRow("R only in the window") << int(Qt::Key_R) << "";
    QTest::newRow("Z only in the window") << int(Qt::Key_Z) << "";
    QTest::newRow("V only in the window") << int(Qt::Key_V) << "";
    QTest::newRow("F11 only in the window") << int(Qt::Key_F11) << "";
}

void TestCommands::fullScreenKeys()
{
    QFETCH(int, key);
    QFETCH(QString, change);
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    c->show();
    c->selectResolution(7); // 120x160: zoom allowed, full screen allowed
    if (key == Qt::Key_F)
        c->selectSlowCapture(1);
    if (key == Qt::Key_Left)
        c->selectZoom(1);
    if (key == Qt::Key_Up)
        c->selectMirror(1);
    c->ButtonFullScreen();
    QVERIFY(c->options().fullScreen);
    QCOMPARE(c->viewfinder(), static_cast<QWidget*>(c->fullScreenFrame()));
    const Snapshot before = Snapshot::of(*c);

    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(c->fullScreenFrame(), &press);

    QStringList expected = before.describe().split(' ');
    const QStringList changed = change.split(' ', Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < changed.size(); i += 2)
        expected[expected.indexOf(changed[i]) + 1] = changed[i + 1];
    QCOMPARE(Snapshot::of(*c).describe(), expected.join(' '));
    QCOMPARE(c->fullScreenFrame()->isVisible(), c->options().fullScreen);
}

void TestCommands::tapLeavesFullScreen()
{
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    c->show();
    c->ButtonFullScreen();
    QVERIFY(c->fullScreenFrame()->isVisible());
    QSignalSpy spy(c->fullScreenFrame(), &MyFrame::keyevent);
    QTest::mouseClick(c->fullScreenFrame(), Qt::RightButton, Qt::NoModifier, QPoint(200, 300));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 32);
    QVERIFY(!c->options().fullScreen);
    QVERIFY(!c->fullScreenFrame()->isVisible());
    QVERIFY(c->fullScreenFrame()->isWindow());
    QCOMPARE(c->viewfinder(), static_cast<QWidget*>(c->Frame1));
}

void TestCommands::frameForwardsEveryPressOnce()
{
    MyFrame frame;
    QSignalSpy spy(&frame, &MyFrame::keyevent);
    QTest::keyPress(&frame, Qt::Key_Up);
    QTest::keyRelease(&frame, Qt::Key_Up);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(&frame, &repeat);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), int(Qt::Key_Up));
}

void TestCommands::labelFollowsThePreview()
{
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    c->show();
    c->fullScreenFrame()->setFixedSize(240, 320); // the handheld's screen
    c->showMessage("Saved");
    c->setFullScreen(true);
    QCOMPARE(c->TextLabel4->parentWidget(), static_cast<QWidget*>(c->fullScreenFrame()));
    QCOMPARE(c->TextLabel4->pos(), QPoint(43, 135));
    QVERIFY(c->TextLabel4->isVisible());
    c->setFullScreen(false);
    QCOMPARE(c->TextLabel4->parentWidget(), static_cast<QWidget*>(c->Frame1));
    QCOMPARE(c->TextLabel4->pos(), QPoint(43, 55));
    QVERIFY(c->TextLabel4->isVisible());

    c->TextLabel4->hide();
    c->setFullScreen(true);
    QVERIFY(c->TextLabel4->isHidden());
}

void TestCommands::escapeTwice()
{
    TestEnvironment env;
    env.writeSettings(settings);
    auto c = env.makeCamera();
    c->show();
    c->ButtonFullScreen();
    QTest::keyClick(c->fullScreenFrame(), Qt::Key_Escape);
    QVERIFY(!c->options().fullScreen);
    QVERIFY(c->isVisible());
    QTest::keyClick(c.get(), Qt::Key_Escape);
    QVERIFY(!c->isVisible());
}

void TestCommands::keyVShowsTheDirectionButton()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    c->show();
    QVERIFY(c->PushButton7->isHidden());
    QTest::keyClick(c.get(), Qt::Key_V);
    QVERIFY(c->PushButton7->isVisible());
    QCOMPARE(c->settings().saveDirection, 0);
    QVERIFY(!c->PushButton7->icon().isNull());
    QKeyEvent again(QEvent::KeyPress, Qt::Key_V, Qt::NoModifier);
    QCoreApplication::sendEvent(c.get(), &again);
    QVERIFY(!again.isAccepted());
}

void TestCommands::saveDirectionButtonAndMirror()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nSaveDirection=0\n");
    auto c = env.makeCamera();
    c->selectMirror(1);
    c->PushButton7->click(); // into "back": the mirror goes off
    QCOMPARE(c->settings().saveDirection, 1);
    QCOMPARE(c->options().mirror, 0);
    c->PushButton7->click(); // back to "up"; a turned card then sets it again (capture cycle test)
    QCOMPARE(c->settings().saveDirection, 0);
}

void TestCommands::buttonsStepTheirOptions()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    c->PushButton2->click();
    QCOMPARE(c->settings().quality, 1);
    c->PushButton2->click();
    QCOMPARE(c->settings().quality, 0);
    c->PushButton5->click();
    QCOMPARE(c->options().mirror, 1);
    c->PushButton4->click();
    QCOMPARE(c->settings().dispMode, 1);
    c->PushButton1->click();
    QCOMPARE(c->settings().resolution, 3);
    c->PushButton0->click();
    QVERIFY(c->cycle().shutterPending);
    c->PushButton6->click();
    QVERIFY(c->options().fullScreen);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
