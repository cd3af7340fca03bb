// The real camera binary against the card emulator: the preview on the wire, the card
// going away and coming back, injected faults, and what a run leaves at its end. Each case
// is one run of the application on its own virtual PDA (see virtualpda.h).
#include "e2e/camerarun.h"
#include "support/scene.h"

#include <QImage>
#include <QtTest>

using namespace e2e;

class TestE2ePreview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void preview_data();
    void preview();
    void sigtermWritesSettingsAndClosesCard();
    void noCardAtStart();
    void cardAbsentAndBack_data();
    void cardAbsentAndBack();
    void busyCardGetsNoFrameReads();
    void webcam_data();
    void webcam();
    void faultsLeaveThePreviewRunning_data();
    void faultsLeaveThePreviewRunning();
};

void TestE2ePreview::initTestCase()
{
    const QString reason = cannotRun();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

// ---- preview ---------------------------------------------------------------------------

void TestE2ePreview::preview_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("startModes");
    QTest::addColumn<QString>("geometry");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("clear");

    QTest::newRow("defaults: direct frame buffer, C after each frame")
        << QByteArray() << QStringList{"write M=1"} << directGeometry << 1 << true;
    QTest::newRow("SlowCapture 0: painter, no C")
        << QByteArray("[Option]\nSlowCapture=0\n") << QStringList{"write M=1"}
        << painterGeometry << 1 << false;
    QTest::newRow("SlowCapture 14: slow bit sent at start, direct")
        << QByteArray("[Option]\nSlowCapture=14\n") << QStringList{"write M=1", "write M=3"}
        << directGeometry << 3 << true;
    QTest::newRow("SlowCapture 6: slow bit, painter, C")
        << QByteArray("[Option]\nSlowCapture=6\n") << QStringList{"write M=1", "write M=3"}
        << painterGeometry << 3 << true;
}

void TestE2ePreview::preview()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, startModes);
    QFETCH(QString, geometry);
    QFETCH(int, mode);
    QFETCH(bool, clear);

    VirtualPda pda;
    QVERIFY(startPreview(pda, settings, 8));
    const QStringList lines = pda.log();

    QCOMPARE(lines.value(0), QStringLiteral("open"));
    QCOMPARE(lines.mid(1, startModes.size()), startModes);
    int i = 1 + int(startModes.size());
    QVERIFY2(lines.value(i) == statusRead, qPrintable(context(lines, i)));
    while (lines.value(i) == statusRead)
        ++i;
    const QString problem = checkPreview(lines, i, geometry, mode, clear, 5);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}

// ---- shutdown --------------------------------------------------------------------------

void TestE2ePreview::sigtermWritesSettingsAndClosesCard()
{
    VirtualPda pda;
    QVERIFY(startPreview(pda));
    QCOMPARE(pda.terminateCamera(), 0);
    // The card sees the release after close() has returned in the camera.
    QVERIFY(waitFor([&] { return pda.log().contains("close"); }, 3000));

    const QStringList lines = pda.log();
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"write M=0", "close"}));
    QCOMPARE(count(lines, 0, "open"), 1);
    QCOMPARE(count(lines, 0, "close"), 1);
    QCOMPARE(settingsValues(pda.settingsPath()), defaultSettingsAtExit(0));
}

void TestE2ePreview::noCardAtStart()
{
    VirtualPda pda;
    QVERIFY(pda.ready());
    QVERIFY(pda.startCamera());
    // Its missing-card box waits for the user; nobody closes it on the offscreen platform.
    QVERIFY2(!waitFor([&] { return !pda.cameraRunning(); }, 2500),
             "the camera ended without its missing-card box being closed");
    QCOMPARE(pda.terminateCamera(), 0);
    QCOMPARE(settingsValues(pda.settingsPath()), defaultSettingsAtExit(0));
}


// ---- the card goes away and comes back ---------------------------------------------------

void TestE2ePreview::cardAbsentAndBack_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("startModes");
    QTest::addColumn<int>("mode");

    QTest::newRow("defaults") << QByteArray() << QStringList{"write M=1"} << 1;
    QTest::newRow("slow capture bit sent anew")
        << QByteArray("[Option]\nSlowCapture=14\n") << QStringList{"write M=1", "write M=3"} << 3;
}

void TestE2ePreview::cardAbsentAndBack()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, startModes);
    QFETCH(int, mode);

    VirtualPda pda;
    QVERIFY(startPreview(pda, settings));
    const int from = int(pda.log().size());
    QVERIFY(pda.control("present 0"));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, "close") >= 0; }, 2000));
    const qint64 closed = clock.elapsed();
    QVERIFY(waitFor(
        [&] {
            const QStringList l = pda.log();
            return indexFrom(l, indexFrom(l, from, "close"), "open") >= 0;
        },
        3000));
    const qint64 reopened = clock.elapsed() - closed;
    QVERIFY2(reopened >= 700 && reopened <= 2500,
             qPrintable(QStringLiteral("reopened %1 ms after the close").arg(reopened)));

    // While the card says it is absent: reopened once a second, polled, closed again.
    QTest::qWait(1200);
    {
        const QStringList lines = pda.log();
        const int close = indexFrom(lines, from, "close");
        QVERIFY(count(lines, close, "open") >= 2);
        for (int i = close + 1; i < lines.size(); ++i)
            QVERIFY2(!isFrameRead(lines[i]), qPrintable(context(lines, i)));
        for (int i = indexFrom(lines, close, "open"); i >= 0 && i + startModes.size() + 2 < lines.size();
             i = indexFrom(lines, i + 1, "open")) {
            QCOMPARE(lines.mid(i + 1, startModes.size()), startModes);
            QCOMPARE(lines.value(i + 1 + int(startModes.size())), statusRead);
            QCOMPARE(lines.value(i + 2 + int(startModes.size())), QStringLiteral("close"));
        }
    }

    const int back = int(pda.log().size());
    QVERIFY(pda.control("present 1"));
    QVERIFY(waitForFrames(pda, back, 5, 4000));

    // The last opening before the first frame since the card came back starts the resumed
    // preview; the control line may fall anywhere in it. (Frames read before the card went
    // away may still follow the moment `from` was taken.)
    const QStringList all = pda.log();
    int firstFrame = indexFrom(all, from, "control present 1");
    QVERIFY(firstFrame >= 0);
    while (firstFrame < all.size() && !isFrameRead(all[firstFrame]))
        ++firstFrame;
    const int opened = int(all.lastIndexOf("open", firstFrame));
    QVERIFY(opened >= from);
    const QStringList lines = withoutControl(all.mid(opened));
    const int open = 0;
    QCOMPARE(lines.mid(open + 1, startModes.size()), startModes);
    int i = open + 1 + int(startModes.size());
    QVERIFY2(lines.value(i) == statusRead, qPrintable(context(lines, i)));
    while (lines.value(i) == statusRead)
        ++i;
    const QString problem = checkPreview(lines, i, directGeometry, mode, true, 3);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}

void TestE2ePreview::busyCardGetsNoFrameReads()
{
    VirtualPda pda;
    QVERIFY(startPreview(pda));
    const int from = int(pda.log().size());
    QVERIFY(pda.control("busy 1"));
    QTest::qWait(1000);

    QStringList lines = pda.log();
    const int busy = indexFrom(lines, from, "control busy 1");
    QVERIFY(busy >= 0);
    int frames = 0;
    for (int i = busy + 1; i < lines.size(); ++i)
        frames += isFrameRead(lines[i]);
    QVERIFY2(frames <= 1, qPrintable(QStringLiteral("%1 frame reads while busy").arg(frames)));
    QVERIFY2(count(lines, busy, statusRead) >= 20,
             qPrintable(QStringLiteral("%1 status reads in a second").arg(count(lines, busy, statusRead))));

    const int idle = int(lines.size());
    QVERIFY(pda.control("busy 0"));
    QVERIFY(waitForFrames(pda, idle, 3, 3000));
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
}

// ---- injected faults -------------------------------------------------------------------

void TestE2ePreview::faultsLeaveThePreviewRunning_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("firstAfter");   // the first read or write after the command
    QTest::addColumn<QString>("fault");        // lines that show the fault
    QTest::addColumn<int>("faults");           // how many of them; -1: not counted

    QTest::newRow("fail-reads 3: status reads fail, card reopened")
        << QByteArray("fail-reads 3") << "^read \\d+ EIO$" << "^read \\d+ EIO$" << 3;
    QTest::newRow("short-read 100: the next read")
        << QByteArray("short-read 100") << "^read (4 4|153600 100)$" << "^read 153600 100$" << -1;
    QTest::newRow("fail-writes 2")
        << QByteArray("fail-writes 2") << "^write \\S+ EIO$" << "^write \\S+ EIO$" << 2;
}

void TestE2ePreview::faultsLeaveThePreviewRunning()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, firstAfter);
    QFETCH(QString, fault);
    QFETCH(int, faults);

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    const int from = int(pda.log().size());
    QVERIFY(pda.control(command));
    // Failed status reads count as a lost card: one reopening a second.
    QVERIFY(waitFor([&] { return pda.log().size() > from + 20; }, 5000));

    const bool onReads = command.startsWith("fail-reads") || command.startsWith("short-read");
    const QStringList lines = pda.log();
    const int control = indexFrom(lines, from, "control " + QString::fromLatin1(command));
    QVERIFY(control >= 0);
    QStringList after;
    for (const QString& l : withoutControl(lines.mid(control + 1))) {
        if (l.startsWith(onReads ? "read " : "write "))
            after << l;
    }
    QVERIFY(after.size() >= 2);
    // The camera has one operation on the card at a time: one under way when the command
    // came is logged after it, unharmed; the next one meets the fault.
    const QRegularExpression expected(firstAfter);
    QVERIFY2(expected.match(after[0]).hasMatch()
                 || (!QRegularExpression(fault).match(after[0]).hasMatch()
                     && expected.match(after[1]).hasMatch()),
             qPrintable(after.mid(0, 2).join(", ")));

    QVERIFY(waitFor([&] { return countMatching(pda.log(), from, QRegularExpression(fault)) >= faults; },
                    5000));
    const QStringList all = pda.log();
    if (faults >= 0)
        QCOMPARE(countMatching(all, from, QRegularExpression(fault)), faults);
    int last = from;
    for (int i = from; i < all.size(); ++i) {
        if (QRegularExpression(fault).match(all[i]).hasMatch())
            last = i;
    }
    QVERIFY2(waitForFrames(pda, last + 1, 5, 6000), "the preview did not go on after the fault");
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
}


QTEST_GUILESS_MAIN(TestE2ePreview)
// ---- a webcam as the card's picture ---------------------------------------------------------

void TestE2ePreview::webcam_data()
{
    QTest::addColumn<QString>("webcams");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("node");   // the one that delivers
    QTest::addColumn<QString>("event");  // "", "held" or "unplugged"

    QTest::newRow("auto: the capture node, never the metadata node")
        << "/dev/video0=meta;/dev/video1=laptop" << "auto" << "/dev/video1" << "";
    QTest::newRow("held by another program, then let go")
        << "/dev/video0=laptop" << "v4l2:/dev/video0" << "/dev/video0" << "held";
    QTest::newRow("unplugged mid-stream, plugged back")
        << "/dev/video0=cheap" << "v4l2:/dev/video0" << "/dev/video0" << "unplugged";
}

// What the user sees with a webcam as the card's picture: the preview, the card missing
// while the webcam cannot deliver and back by itself when it can, and the picture upright.
void TestE2ePreview::webcam()
{
    QFETCH(QString, webcams);
    QFETCH(QString, source);
    QFETCH(QString, node);
    QFETCH(QString, event);

    VirtualPda pda;
    const QString held = pda.dir.path() + "/held";
    if (event == "held")
        VirtualPda::writeFile(held, {});
    const QString reason = pda.addWebcams(webcams, held);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    pda.emulatorArguments = {"--source", source};
    // The camera sees a card that never delivered a frame as missing: opened once a second,
    // polled, closed.
    const auto missingFrom = [&](int from) -> QString {
        if (!waitFor([&] { return count(pda.log(), from, "close") >= 2; }, 5000))
            return QStringLiteral("not closed twice:\n") + pda.log().mid(from).join('\n');
        const QStringList lines = pda.log();
        for (int i = indexFrom(lines, from, "close"); i >= 0 && i < lines.size(); ++i) {
            if (isFrameRead(lines[i]))
                return context(lines, i);
        }
        return {};
    };
    if (event == "held") {
        QVERIFY(pda.ready() && pda.startEmulator());
        QVERIFY(pda.startCamera());
        const QString missing = missingFrom(0);
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        const QStringList errors = pda.log().filter("source error");
        QVERIFY2(errors.size() == 1 && errors.first().contains("busy"),
                 qPrintable(pda.log().join('\n')));
        const int released = int(pda.log().size());
        QVERIFY(QFile::remove(held));
        QVERIFY(waitForFrames(pda, released, 3, 8000));
    } else {
        QVERIFY(startPreview(pda));
    }
    const QStringList sources = pda.log().filter(QRegularExpression("^source (auto|v4l2)"));
    const QString mode = "source v4l2:" + node + " YUYV 640x480 30/1";
    QStringList expected{mode};
    if (source == "auto")
        expected << "source auto v4l2:" + node;
    QCOMPARE(sources, expected);

    if (event == "unplugged") {
        const int from = int(pda.log().size());
        QVERIFY(VirtualPda::plugWebcam(node, false));
        const QString missing = missingFrom(from);
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        const int back = int(pda.log().size());
        QVERIFY(VirtualPda::plugWebcam(node, true));
        QVERIFY(waitForFrames(pda, back, 3, 8000));
    }

    QVERIFY(pda.control("shutter"));
    const QString picture = pda.picturesDir() + "/pic0001.jpg";
    QImage taken;
    QVERIFY(waitFor([&] { return QFile::exists(picture) && taken.load(picture); }, 8000));
    const QString problem = sceneProblem(taken);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}

#include "tst_e2e_preview.moc"
