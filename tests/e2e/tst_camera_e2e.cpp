// The real camera binary against the card emulator: what goes over the wire, which files
// appear, what the settings file holds at exit. Each case is one run of the application on
// its own virtual PDA (see virtualpda.h).
#include "e2e/privatemounts.h"
#include "e2e/screensaverservice.h"
#include "e2e/virtualpda.h"
#include "support/scene.h"

#include <QDirIterator>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <sys/mount.h>

using e2e::VirtualPda;
using e2e::waitFor;

namespace {

const QString statusRead = QStringLiteral("read 4 4");
const QString previewRead = QStringLiteral("read 153600 153600");   // 240 x 320 x 2
const QString captureRead = QStringLiteral("read 307200 307200");   // 480 x 320 x 2
const QString directGeometry = QStringLiteral("write S=160,240,256,640");
const QString painterGeometry = QStringLiteral("write R=240,160,256,480");
const QString captureGeometry = QStringLiteral("write R=480,320,256,960");

// The wire traffic of one preview frame with capture mode `mode` (bit 0 set).
QStringList frameBlock(int mode, bool clear)
{
    QStringList block{QStringLiteral("write M=%1").arg(mode & ~1), previewRead,
                      QStringLiteral("write M=%1").arg(mode)};
    if (clear)
        block << QStringLiteral("write C");
    return block;
}

bool isFrameRead(const QString& line)
{
    static const QRegularExpression re(QStringLiteral("^read (\\d+) (\\d+|EIO)$"));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() && m.captured(1) != QLatin1String("4");
}

int count(const QStringList& lines, int from, const QString& text)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += lines[i] == text;
    return n;
}

int countMatching(const QStringList& lines, int from, const QRegularExpression& re)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += re.match(lines[i]).hasMatch();
    return n;
}

int indexFrom(const QStringList& lines, int from, const QString& text)
{
    return lines.indexOf(text, qMax(0, from));
}

QString context(const QStringList& lines, int at)
{
    const int from = qMax(0, at - 4);
    return QStringLiteral("at line %1:\n  %2").arg(at).arg(lines.mid(from, 9).join("\n  "));
}

// From `at`: the geometry command, then frame blocks with exactly one status read between
// them, up to the end (a last block may be cut short by the end of the log). Empty when
// it holds with at least `minFrames` whole blocks, else what went wrong.
QString checkPreview(const QStringList& lines, int at, const QString& geometry, int mode,
                     bool clear, int minFrames)
{
    if (at < 0 || at >= lines.size() || lines[at] != geometry)
        return "expected " + geometry + ' ' + context(lines, at);
    const QStringList block = frameBlock(mode, clear);
    int i = at + 1;
    int frames = 0;
    for (;;) {
        for (const QString& expected : block) {
            if (i == lines.size())
                return frames >= minFrames
                    ? QString()
                    : QStringLiteral("only %1 frames").arg(frames);
            if (lines[i] != expected)
                return "expected " + expected + ' ' + context(lines, i);
            ++i;
        }
        ++frames;
        if (i == lines.size())
            break;
        if (lines[i] != statusRead)
            return "expected one status read " + context(lines, i);
        ++i;
    }
    return frames >= minFrames ? QString() : QStringLiteral("only %1 frames").arg(frames);
}

QStringList withoutControl(QStringList lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString& l) { return l.startsWith("control "); }),
                lines.end());
    return lines;
}

QStringList picturesUnder(const QString& root)
{
    QStringList found;
    QDirIterator it(root, {"*.jpg"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// The real, effective, saved and file-system user ids of a running process, from /proc.
QList<uint> processUids(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        QList<uint> ids;
        for (const QByteArray& field : line.mid(4).simplified().split(' '))
            ids << field.toUInt();
        return ids;
    }
    return {};
}

QMap<QString, QString> settingsValues(const QString& path)
{
    QSettings s(path, QSettings::IniFormat);
    QMap<QString, QString> values;
    for (const QString& key : s.allKeys())
        values[key] = s.value(key).toString();
    return values;
}

const QMap<QString, QString> defaultSettingsAtExit(int serial)
{
    return {{"Option/SlowCapture", "12"},
            {"File/Serial", QString::number(serial)},
            {"File/Remain", "4"},
            {"File/SaveWait", "1000"}};
}

}  // namespace

class TestCameraE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void preview_data();
    void preview();
    void sigtermWritesSettingsAndClosesCard();
    void noCardAtStart();
    void shutterTakesPicture_data();
    void shutterTakesPicture();
    void cardAbsentAndBack_data();
    void cardAbsentAndBack();
    void busyCardGetsNoFrameReads();
    void faultsLeaveThePreviewRunning_data();
    void faultsLeaveThePreviewRunning();
    void homeLength_data();
    void homeLength();
    void homeWithShellCharacters();
    void onePressOneAttemptWithoutWindowManager();
    void fullScreenComesBackOnTop();
    void filesBelongToTheUser_data();
    void filesBelongToTheUser();
    void onTheLinuxFrameBuffer();

    void memoryCardFollowsMountTable();
    void screenSaverHeld_data();
    void screenSaverHeld();
    void secondStartRaisesFirst();

private:
    // A virtual PDA with the emulator running and the camera's preview under way.
    bool startPreview(VirtualPda& pda, const QByteArray& settings = {}, int frames = 3);
    // Waits for `n` frame reads after line `from`.
    static bool waitForFrames(const VirtualPda& pda, int from, int n, int ms = 5000);
};

void TestCameraE2e::initTestCase()
{
    const QString reason = e2e::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    testaccount::Account account;
    if (!testaccount::lookUp(account))
        QSKIP("no account orvane-test to run the camera as (the test_account fixture makes it)");
}

void TestCameraE2e::init()
{
    // The links belong to one emulator at a time. The CTest lock keeps our own suites
    // apart; an emulator started outside CTest (a demo, a benchmark) is waited for.
    const bool free = waitFor(
        [] { return !e2e::nodeExists(e2e::deviceNode) && !e2e::nodeExists(e2e::buzzerNode); },
        90000);
    QVERIFY2(free, "/dev/orvane_vdc or /dev/orvane_buz is held by another emulator");
}

bool TestCameraE2e::waitForFrames(const VirtualPda& pda, int from, int n, int ms)
{
    return waitFor(
        [&] {
            const QStringList lines = pda.log();
            int frames = 0;
            for (int i = qMax(0, from); i < lines.size(); ++i)
                frames += isFrameRead(lines[i]);
            return frames >= n;
        },
        ms);
}

bool TestCameraE2e::startPreview(VirtualPda& pda, const QByteArray& settings, int frames)
{
    if (!pda.ready()) {
        qWarning("no tmpfs for HOME");
        return false;
    }
    if (!pda.startEmulator())
        return false;
    pda.writeSettings(settings);
    if (!pda.startCamera())
        return false;
    if (!waitForFrames(pda, 0, frames, 15000)) {
        qWarning("no preview; log:\n%s", qPrintable(pda.log().join('\n')));
        return false;
    }
    return true;
}

// ---- preview ---------------------------------------------------------------------------

void TestCameraE2e::preview_data()
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

void TestCameraE2e::preview()
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

void TestCameraE2e::sigtermWritesSettingsAndClosesCard()
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

void TestCameraE2e::noCardAtStart()
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

// ---- pictures --------------------------------------------------------------------------

void TestCameraE2e::shutterTakesPicture_data()
{
    QTest::addColumn<int>("presses");
    QTest::newRow("one press: pic0001") << 1;
    QTest::newRow("two presses: pic0001, pic0002") << 2;
}

void TestCameraE2e::shutterTakesPicture()
{
    QFETCH(int, presses);

    VirtualPda pda;
    QVERIFY(startPreview(pda));

    for (int n = 1; n <= presses; ++n) {
        const int from = int(pda.log().size());
        QVERIFY(pda.control("shutter"));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, captureRead) >= 0; }, 5000));
        const qint64 captured = clock.elapsed();
        QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, "write B") >= 0; }, 5000));
        const qint64 answered = clock.elapsed() - captured;
        QVERIFY2(answered >= 800 && answered <= 3000,
                 qPrintable(QStringLiteral("B came %1 ms after the capture").arg(answered)));
        // The preview comes back with its geometry sent anew.
        QVERIFY(waitForFrames(pda, indexFrom(pda.log(), from, "write B"), 2));

        const QStringList lines = pda.log();
        const int control = indexFrom(lines, from, "control shutter");
        QVERIFY(control >= 0);
        const int buzz = indexFrom(lines, control, "ioctl 0x5680 2");
        QVERIFY2(buzz > control, "no buzzer after the card's shutter button");
        QCOMPARE(count(lines, from, "ioctl 0x5680 2"), 1);
        // Before the press was seen only the preview's own traffic.
        for (int i = control + 1; i < buzz; ++i)
            QVERIFY2(lines[i] == statusRead || frameBlock(1, true).contains(lines[i]),
                     qPrintable(context(lines, i)));
        QCOMPARE(lines.mid(buzz + 1, 4),
                 (QStringList{captureGeometry, "write M=0", captureRead, "write M=1"}));
        // While "Saved" shows, the card is only polled.
        const int b = indexFrom(lines, buzz, "write B");
        QVERIFY(b > buzz + 4);
        for (int i = buzz + 5; i < b; ++i)
            QVERIFY2(lines[i] == statusRead, qPrintable(context(lines, i)));
        int next = b + 1;
        while (lines.value(next) == statusRead)
            ++next;
        const QString problem = checkPreview(lines, next, directGeometry, 1, true, 1);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        const QString name = pda.picturesDir() + QStringLiteral("/pic%1.jpg").arg(n, 4, 10, QChar('0'));
        QVERIFY2(QFile::exists(name), qPrintable(name));
        QImage picture(name);
        QVERIFY2(!picture.isNull(), "the picture does not decode");
        QCOMPARE(picture.size(), QSize(480, 320));
        const QString scene = sceneProblem(picture);
        QVERIFY2(scene.isEmpty(), qPrintable(scene));
        QCOMPARE(picturesUnder(pda.storage).size(), n);
    }

    QCOMPARE(pda.terminateCamera(), 0);
    QCOMPARE(settingsValues(pda.settingsPath()), defaultSettingsAtExit(presses));
}

// ---- the card goes away and comes back ---------------------------------------------------

void TestCameraE2e::cardAbsentAndBack_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("startModes");
    QTest::addColumn<int>("mode");

    QTest::newRow("defaults") << QByteArray() << QStringList{"write M=1"} << 1;
    QTest::newRow("slow capture bit sent anew")
        << QByteArray("[Option]\nSlowCapture=14\n") << QStringList{"write M=1", "write M=3"} << 3;
}

void TestCameraE2e::cardAbsentAndBack()
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

    // The last opening before the first frame starts the resumed preview; the control line
    // may fall anywhere in it.
    const QStringList lines = withoutControl(pda.log().mid(from));
    int firstFrame = 0;
    while (firstFrame < lines.size() && !isFrameRead(lines[firstFrame]))
        ++firstFrame;
    const int open = int(lines.lastIndexOf("open", firstFrame));
    QVERIFY(open >= 0);
    QCOMPARE(lines.mid(open + 1, startModes.size()), startModes);
    int i = open + 1 + int(startModes.size());
    QVERIFY2(lines.value(i) == statusRead, qPrintable(context(lines, i)));
    while (lines.value(i) == statusRead)
        ++i;
    const QString problem = checkPreview(lines, i, directGeometry, mode, true, 3);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}

void TestCameraE2e::busyCardGetsNoFrameReads()
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

void TestCameraE2e::faultsLeaveThePreviewRunning_data()
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

void TestCameraE2e::faultsLeaveThePreviewRunning()
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
    // The fault counts from its control line on: an operation under way when the command
    // was written may still be logged before it.
    const QStringList logged = pda.log();
    const int armed = indexFrom(logged, from, "control " + QString::fromLatin1(command));
    QVERIFY(armed >= 0);
    const QStringList lines = withoutControl(logged.mid(armed + 1));
    const auto first = std::find_if(lines.begin(), lines.end(), [&](const QString& l) {
        return l.startsWith(onReads ? "read " : "write ");
    });
    QVERIFY(first != lines.end());
    QVERIFY2(QRegularExpression(firstAfter).match(*first).hasMatch(), qPrintable(*first));

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

// ---- the internal storage's path -----------------------------------------------------------

void TestCameraE2e::homeLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("saved");

    QTest::newRow("99 characters: fits") << 99 << true;
    QTest::newRow("100 characters: refused") << 100 << false;
    QTest::newRow("150 characters: refused") << 150 << false;
}

void TestCameraE2e::homeLength()
{
    QFETCH(int, length);
    QFETCH(bool, saved);

    VirtualPda pda;
    const int pad = length - int(pda.storage.size()) - 1;
    if (pad < 1)
        QSKIP("the temporary folder's path is too long for this case");
    pda.setHome(pda.storage + '/' + QString(pad, QChar('h')));
    QCOMPARE(pda.home.size(), length);
    QVERIFY(startPreview(pda));

    const int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, captureRead) >= 0; }, 5000));
    QTest::qWait(1500);

    const QStringList lines = pda.log();
    const int captured = indexFrom(lines, from, captureRead);
    if (saved) {
        QCOMPARE(picturesUnder(pda.storage), QStringList{pda.picturesDir() + "/pic0001.jpg"});
        QVERIFY(indexFrom(lines, captured, "write B") > captured);
    } else {
        QCOMPARE(picturesUnder(pda.storage), QStringList());
        QVERIFY(pda.cameraRunning());
        // The save-failure box is open and the preview goes on behind it; the card's button,
        // still held, is answered with "B" by a tick there, since the box is the active window.
        QVERIFY(waitForFrames(pda, captured + 1, 5, 1500));
    }
    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(waitFor([&] { return pda.log().contains("close"); }, 3000));
    QVERIFY2(indexFrom(pda.log(), captured, "write B") > captured, "the press was never answered");
    QCOMPARE(settingsValues(pda.settingsPath()), defaultSettingsAtExit(saved ? 1 : 0));
}

void TestCameraE2e::homeWithShellCharacters()
{
    VirtualPda pda;
    pda.setHome(pda.storage + "/my 'pics' \"here\" $(touch x); `touch x` & x\nline");
    QVERIFY(pda.home.size() < 100);
    QVERIFY(startPreview(pda));
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return QFile::exists(pda.picturesDir() + "/pic0001.jpg"); }, 5000));
    QCOMPARE(picturesUnder(pda.storage), QStringList{pda.picturesDir() + "/pic0001.jpg"});
    QCOMPARE(pda.terminateCamera(), 0);

    for (const QString& folder : {pda.work, pda.home, pda.storage, QDir::currentPath()})
        QVERIFY2(!QFile::exists(folder + "/x"), qPrintable(folder + "/x exists"));
    QCOMPARE(QDir(pda.storage).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QFileInfo(pda.home).fileName()});
    QCOMPARE(QDir(pda.work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

// ---- a real X server without a window manager ------------------------------------------

namespace {

// Xvfb for one test: 240x320 at 16 bits, no window manager, gone with the object.
class XServer {
public:
    XServer()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        process.setProgram(xvfb);
        process.setArguments({"-displayfd", QString::number(fds[1]), "-screen", "0", "240x320x16",
                              "-nolisten", "tcp"});
        process.setChildProcessModifier([fd = fds[1]] { ::fcntl(fd, F_SETFD, 0); });
        process.start();
        ::close(fds[1]);
        char number[16] = {};
        pollfd p{fds[0], POLLIN, 0};
        if (process.waitForStarted(5000) && ::poll(&p, 1, 10000) == 1
            && ::read(fds[0], number, sizeof number - 1) > 0)
            display = QStringLiteral(":%1").arg(QString::fromLatin1(number).trimmed());
        ::close(fds[0]);
    }
    ~XServer()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    QProcess process;
    QString display; // empty when none came up
};

} // namespace

// The save fails; while its box is open, presses of the card's button are answered with "B"
// and dropped, even before the X server makes the box the active window: one press, one
// capture, one box.
void TestCameraE2e::onePressOneAttemptWithoutWindowManager()
{
    XServer x;
    if (x.display.isEmpty())
        QSKIP("no Xvfb here");
    VirtualPda pda;
    pda.display = x.display;
    QVERIFY(QDir().mkpath(pda.home + "/Documents"));
    VirtualPda::writeFile(pda.home + "/Documents/Image_Files", "a file, so every save fails\n");
    QVERIFY(startPreview(pda));
    const int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, captureRead) >= 0; }, 5000));
    // The card's button stays pressed until "B": the same press must not be taken again.
    QTest::qWait(1000);
    QCOMPARE(count(pda.log(), from, captureGeometry), 1);
    const int again = int(pda.log().size());
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(150);
        QVERIFY(pda.control("shutter"));
    }
    QVERIFY(waitFor([&] { return count(pda.log(), again, "write B") >= 1; }, 5000));
    QTest::qWait(300);
    QCOMPARE(count(pda.log(), from, captureGeometry), 1);
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 1); // the buzzer only for the press taken
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
    QCOMPARE(picturesUnder(pda.storage), QStringList());
}

namespace {

// What an X client tool prints on `display`, trimmed; empty when it failed.
QString x11(const QString& display, const QString& program, const QStringList& arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The root window's children, top of the stack first.
QStringList stackTopFirst(const QString& display)
{
    QStringList ids;
    const QRegularExpression child("^\\s+(0x[0-9a-f]+) ");
    for (const QString& line : x11(display, "xwininfo", {"-root", "-children"}).split('\n')) {
        const QRegularExpressionMatch m = child.match(line);
        if (m.hasMatch())
            ids << m.captured(1);
    }
    return ids;
}

} // namespace

// Full screen on, the control window brought over it and activated, as a click on it
// would: the camera puts the full-screen frame back on top. (Which window then has the
// keys cannot be told here: without a window manager the server ignores a focus request
// stamped earlier than xdotool's.)
void TestCameraE2e::fullScreenComesBackOnTop()
{
    XServer x;
    if (x.display.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("no Xvfb or xdotool here");
    VirtualPda pda;
    pda.display = x.display;
    QVERIFY(startPreview(pda, "[Option]\nDispMode=1\n"));
    const QString main = x11(x.display, "xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Camera$"}).section('\n', 0, 0);
    QVERIFY(!main.isEmpty());
    x11(x.display, "xdotool", {"windowfocus", "--sync", main});
    // The F button, at (0, 2) of the button group at (0, 160).
    x11(x.display, "xdotool", {"mousemove", "--window", main, "12", "174", "click", "1"});
    const QString mainHex = QString("0x%1").arg(main.toULong(), 0, 16);
    QString frame;
    QVERIFY(waitFor([&] {
        const QStringList stack = stackTopFirst(x.display);
        frame = stack.value(0);
        return !stack.isEmpty() && frame != mainHex
            && x11(x.display, "xwininfo", {"-id", frame}).contains("IsViewable");
    }, 5000));

    x11(x.display, "xdotool", {"windowraise", main});
    x11(x.display, "xdotool", {"windowfocus", main});
    QVERIFY2(waitFor([&] { return stackTopFirst(x.display).value(0) == frame; }, 3000),
             qPrintable(stackTopFirst(x.display).join(' ')));
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
}

// ---- who owns what ------------------------------------------------------------------------

void TestCameraE2e::filesBelongToTheUser_data()
{
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("pictureMode");
    QTest::addColumn<int>("folderMode");

    QTest::newRow("user, umask 022") << false << 022 << 0644 << 0755;
    QTest::newRow("user, umask 027") << false << 027 << 0640 << 0750;
    QTest::newRow("root: warns once and works") << true << 022 << 0644 << 0755;
}

void TestCameraE2e::filesBelongToTheUser()
{
    QFETCH(bool, asRoot);
    QFETCH(int, mask);
    QFETCH(int, pictureMode);
    QFETCH(int, folderMode);

    VirtualPda pda;
    if (asRoot) {
        pda.account = {};
        pda.cardOwner = QStringLiteral("root");
    }
    pda.cameraUmask = mode_t(mask);
    pda.errorFile = pda.dir.path() + "/camera.err";
    QVERIFY(startPreview(pda));
    const uint uid = pda.account.uid;
    QCOMPARE(processUids(pda.camera.processId()), (QList<uint>{uid, uid, uid, uid}));

    QVERIFY(pda.control("shutter"));
    const QString picture = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(waitFor([&] { return QFile::exists(picture); }, 5000));
    QCOMPARE(pda.terminateCamera(), 0);

    struct Expected {
        QString path;
        int mode;
    };
    const Expected files[] = {{picture, pictureMode},
                              {pda.picturesDir(), folderMode},
                              {pda.home + "/Documents", folderMode},
                              {pda.settingsPath(), 0600}};
    for (const Expected& e : files) {
        struct stat st;
        QVERIFY2(::stat(QFile::encodeName(e.path).constData(), &st) == 0, qPrintable(e.path));
        QVERIFY2(st.st_uid == uid && st.st_gid == pda.account.gid, qPrintable(e.path));
        QVERIFY2(int(st.st_mode & 07777) == e.mode,
                 qPrintable(QStringLiteral("%1 has mode %2").arg(e.path).arg(st.st_mode & 07777, 0, 8)));
    }

    QFile err(pda.errorFile);
    QVERIFY(err.open(QIODevice::ReadOnly));
    QCOMPARE(err.readAll().count("running as root is not needed"), asRoot ? 1 : 0);
}

// The program itself on Qt's linuxfb over the simulated frame buffer: the panel's memory
// shows the scene upright in the viewfinder, and the shutter saves the upright picture.
void TestCameraE2e::onTheLinuxFrameBuffer()
{
    const QString shim = qEnvironmentVariable("CAMERA_BUILD_DIR") + "/tools/devices/liborvane_framebuffer.so";
    if (!QFile::exists(shim))
        QSKIP("the simulated frame buffer is not built");
    VirtualPda pda;
    const QString memory = pda.dir.filePath("panel.mem");
    {
        // The panel's memory belongs to the camera's user, as the device node would.
        QFile f(memory);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(::fchown(f.handle(), pda.account.uid, pda.account.gid) == 0);
    }
    pda.cameraEnv.insert("QT_QPA_PLATFORM", "linuxfb:fb=/dev/fb0:tty=/dev/null");
    pda.cameraEnv.insert("QT_QPA_FB_DISABLE_INPUT", "1");
    pda.cameraEnv.insert("QT_QPA_FB_HIDECURSOR", "1");
    pda.cameraEnv.insert("QT_QPA_FB_FORCE_FULLSCREEN", "0");
    pda.cameraEnv.insert("LD_PRELOAD", testaccount::reachable(shim));
    pda.cameraEnv.insert("FB_SHIM_SIZE", "240x320");
    pda.cameraEnv.insert("FB_SHIM_MEMORY", memory);
    // Where the camera is sanitized: full stacks, so that what the toolkit's frame-buffer
    // plugin leaves at exit is told apart from a leak of ours.
    pda.cameraEnv.insert("ASAN_OPTIONS", "fast_unwind_on_malloc=0");
    QVERIFY(startPreview(pda, {}, 5));
    QTest::qWait(200);  // the toolkit's screen update after the last frame

    const auto panel = [&] {
        QFile f(memory);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QByteArray bytes = panel();
    QCOMPARE(bytes.size(), 240 * 320 * 2);
    // The window's top-left 240x160 is the viewfinder, the window preview fills it.
    const QImage viewfinder = QImage(reinterpret_cast<const uchar*>(bytes.constData()), 240, 160,
                                     480, QImage::Format_RGB16).copy();
    QString problem = sceneProblem(viewfinder);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QVERIFY(pda.control("shutter"));
    const QString name = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(waitFor([&] { return QImage(name).size() == QSize(480, 320); }, 5000));
    problem = sceneProblem(QImage(name));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}


// ---- at home in a desktop session ------------------------------------------------------

namespace {

const char* const cardFolder = "/mnt/card";
// What the environment stand-in reports while it runs with its debug output on.
const QByteArray platformDebug = "pda.application.debug=true";
const QByteArray cardNoticeLine = "mtabChanged(): the mount table changed";
const QByteArray raisedLine = "raise(): camera brought to the front";

bool cardFolderIsMountPoint()
{
    struct stat st;
    struct stat root;
    return ::stat(cardFolder, &st) == 0 && ::stat("/", &root) == 0 && st.st_dev != root.st_dev;
}

}  // namespace

void TestCameraE2e::memoryCardFollowsMountTable()
{
    if (cardFolderIsMountPoint())
        QSKIP("something is mounted at /mnt/card already");
    const bool made = ::mkdir(cardFolder, 0755) == 0;
    auto cleanup = qScopeGuard([made] {
        ::umount2(cardFolder, MNT_DETACH);
        if (made)
            ::rmdir(cardFolder);
    });
    QCOMPARE(::mount("pda-card", cardFolder, "tmpfs", 0, "size=1m,mode=0755"), 0);
    const QString cardPictures = QString(cardFolder) + "/Documents/Image_Files";
    QVERIFY(QDir().mkpath(cardPictures));

    VirtualPda pda;
    // The card is the camera's user's, as a desktop mounts it for the user.
    for (const QString& folder : {QString(cardFolder), QString(cardFolder) + "/Documents", cardPictures})
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), pda.account.uid, pda.account.gid), 0);
    pda.cameraEnv.insert("QT_LOGGING_RULES", platformDebug);
    QVERIFY(pda.ready() && pda.startEmulator());
    pda.writeSettings("[Option]\nSaveTo=1\n");
    QVERIFY(pda.startCamera(true));
    QVERIFY(waitForFrames(pda, 0, 3, 15000));
    QByteArray errors;
    const auto notices = [&] { return (errors += pda.camera.readAllStandardError()).count(cardNoticeLine); };

    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return QFile::exists(cardPictures + "/pic0001.jpg"); }, 5000));
    QVERIFY(waitFor([&] { return pda.log().contains("write B"); }, 3000));

    // The card is pulled: no message on any bus, only the kernel's mount table tells.
    QCOMPARE(::umount2(cardFolder, 0), 0);
    QVERIFY2(waitFor([&] { return notices() == 1; }, 3000), errors.constData());
    const int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    const QString inside = pda.picturesDir() + "/pic0002.jpg";
    QVERIFY(waitFor([&] { return QFile::exists(inside); }, 5000));
    QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, "write B") >= 0; }, 3000));
    QCOMPARE(picturesUnder(pda.storage), QStringList{inside});
    QCOMPARE(picturesUnder(cardFolder), QStringList());

    // Nothing changes, nothing is told; a card put back is told once.
    QTest::qWait(500);
    QCOMPARE(notices(), 1);
    QCOMPARE(::mount("pda-card", cardFolder, "tmpfs", 0, "size=1m,mode=0755"), 0);
    QVERIFY(waitFor([&] { return notices() == 2; }, 3000));
    QTest::qWait(300);
    QCOMPARE(notices(), 2);

    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(pda.settings().contains("SaveTo=0"));
}

void TestCameraE2e::screenSaverHeld_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("power changes, then SIGTERM: released by the camera") << false;
    QTest::newRow("SIGKILL: released with the camera's bus connection") << true;
}

void TestCameraE2e::screenSaverHeld()
{
    QFETCH(bool, killed);
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    ScreenSaverService screenSaver;
    QVERIFY(screenSaver.start());

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 1; }, 3000));
    QCOMPARE(screenSaver.events, QStringList{"Inhibit camera 1"});
    QVERIFY(!screenSaver.lastReason.isEmpty());

    if (killed) {
        ::kill(pid_t(pda.camera.processId()), SIGKILL);
        QVERIFY(pda.camera.waitForFinished(5000));
        QVERIFY(waitFor([&] { return screenSaver.events.size() == 2; }, 3000));
        QCOMPARE(screenSaver.events, (QStringList{"Inhibit camera 1", "dropped 1"}));
        return;
    }

    // On a low battery the screen saver may work again; back on mains it is held off anew.
    QVERIFY(QDir().mkpath(pda.power + "/BAT0"));
    VirtualPda::writeFile(pda.power + "/BAT0/type", "Battery\n");
    VirtualPda::writeFile(pda.power + "/BAT0/status", "Discharging\n");
    VirtualPda::writeFile(pda.power + "/BAT0/capacity", "5\n");
    VirtualPda::writeFile(pda.power + "/AC/online", "0\n");
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 2; }, 3000));
    VirtualPda::writeFile(pda.power + "/AC/online", "1\n");
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 3; }, 3000));
    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 4; }, 3000));
    QTest::qWait(200);
    QCOMPARE(screenSaver.events,
             (QStringList{"Inhibit camera 1", "UnInhibit 1", "Inhibit camera 2", "UnInhibit 2"}));
    QCOMPARE(screenSaver.held(), 0);
}

void TestCameraE2e::secondStartRaisesFirst()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    VirtualPda pda;
    pda.cameraEnv.insert("QT_LOGGING_RULES", platformDebug);
    const QByteArray settings("[Option]\nSaveTo=0\nSerial=7\n");
    QVERIFY(pda.ready() && pda.startEmulator());
    pda.writeSettings(settings);
    QVERIFY(pda.startCamera(true));
    QVERIFY(waitForFrames(pda, 0, 3, 15000));

    QProcess second;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(pda.startCameraProcess(second));
    QVERIFY(second.waitForFinished(2000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QByteArray errors;
    QVERIFY(waitFor([&] { return (errors += pda.camera.readAllStandardError()).contains(raisedLine); },
                    3000));
    // The first goes on previewing; the card was opened once, the settings were not touched.
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 5, 3000));
    QVERIFY(pda.cameraRunning());
    QCOMPARE(count(pda.log(), 0, "open"), 1);
    QCOMPARE(pda.settings(), settings);

    // A camera that died leaves the way free: the next start runs.
    ::kill(pid_t(pda.camera.processId()), SIGKILL);
    QVERIFY(pda.camera.waitForFinished(5000));
    QVERIFY(pda.startCamera());
    QVERIFY(waitFor([&] { return count(pda.log(), 0, "open") == 2; }, 5000));
    QVERIFY(!waitFor([&] { return !pda.cameraRunning(); }, 1000));
    QCOMPARE(pda.terminateCamera(), 0);
}

int main(int argc, char** argv)
{
    // The camera's mount table then changes only when a test changes it.
    e2e::privateMounts();
    QCoreApplication app(argc, argv);
    TestCameraE2e test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_camera_e2e.moc"
