// The fault matrix: each case is one run (or a few runs) of the real camera binary on a
// virtual PDA with the card emulator, with one thing going wrong: the card pulled, taken
// away or failing, a storage full, gone, locked or read-only, an odd HOME, the process
// signalled or killed, a damaged settings file. Each checks what the user keeps: a camera
// that goes on (or ends the way it should), whole pictures, a serial that matches them,
// settings that are the old or the new ones.
#include "faults/faultrun.h"

#include "platform/qcop.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using namespace faults;

namespace {

using e2e::captureGeometry;
using e2e::captureRead;
using e2e::statusRead;

QString pictureIn(const QString& folder, int n)
{
    return folder + QStringLiteral("/pic%1.jpg").arg(n, 4, 10, QChar('0'));
}

QString internalFolder(const VirtualPda& pda)
{
    return pda.picturesDir();
}

// The frames of one preview line up; used after the card came back.
bool isPreviewLine(const QString& line)
{
    return line == statusRead || isFrameRead(line) || line.startsWith("write M=")
        || line == QLatin1String("write C");
}

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void cardUnplugged_data();
    void cardUnplugged();
    void cardAbsentTenSeconds();
    void cardFaults_data();
    void cardFaults();

    void memoryCardFailures_data();
    void memoryCardFailures();
    void memoryCardRemoved_data();
    void memoryCardRemoved();
    void memoryCardWriteProtected_data();
    void memoryCardWriteProtected();

    void internalStorage_data();
    void internalStorage();

    void sigterm_data();
    void sigterm();
    void sigkillDuringSave_data();
    void sigkillDuringSave();
    void killDuringSettingsWrite();

    void damagedSettings_data();
    void damagedSettings();

private:
    bool startPreview(VirtualPda& pda, const QByteArray& settings = {},
                      const CameraEnvironment& extra = {});
    // Presses the card's shutter and waits until the capture frame has been read; the line
    // of the press, or -1.
    int shoot(VirtualPda& pda);
    // SIGTERM; then the settings file must be whole and its serial that of the newest
    // picture under `root` (or `serial` when given).
    void endAndCheck(VirtualPda& pda, const QString& root, int serial = -1);
};

void TestFaults::initTestCase()
{
    QString reason = e2e::unavailableReason();
    if (reason.isEmpty())
        reason = e2e::outsideVirtualPda();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    struct stat st;
    struct stat root;
    QVERIFY2(::stat(cardFolder, &st) == 0 && ::stat("/", &root) == 0 && st.st_dev == root.st_dev,
             "the virtual PDA's card slot is not an empty folder of the root file system");
}

bool TestFaults::startPreview(VirtualPda& pda, const QByteArray& settings,
                              const CameraEnvironment& extra)
{
    if (!pda.ready()) {
        qWarning("no tmpfs for HOME");
        return false;
    }
    if (!pda.emulator.running() && !pda.startEmulator())
        return false;
    pda.writeSettings(settings);
    const int from = int(pda.log().size());
    if (!startCamera(pda, extra))
        return false;
    if (!waitForFrames(pda, from, 3, 15000)) {
        qWarning("no preview; log:\n  %s", qPrintable(tail(pda.log(), 30)));
        return false;
    }
    return true;
}

int TestFaults::shoot(VirtualPda& pda)
{
    const int from = int(pda.log().size());
    if (!pda.control("shutter"))
        return -1;
    if (!waitForLine(pda, from, captureRead, 6000))
        return -1;
    return indexFrom(pda.log(), from, "control shutter");
}

void TestFaults::endAndCheck(VirtualPda& pda, const QString& root, int serial)
{
    QCOMPARE(pda.terminateCamera(), 0);
    const QByteArray settings = pda.settings();
    const QString problem = settingsProblem(settings);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QStringList pictures = picturesUnder(root);
    const QString broken = picturesProblem(root);
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
    QCOMPARE(settingsSerial(settings), serial >= 0 ? serial : highestNumber(pictures));
    const QStringList others = othersUnder(root);
    if (!others.isEmpty())
        qInfo("left beside the pictures: %s", qPrintable(others.join(", ")));
}

// ---- the camera card -----------------------------------------------------------------------

void TestFaults::cardUnplugged_data()
{
    QTest::addColumn<QString>("phase");     // preview, save (capture read blocked), saved
    QTest::addColumn<int>("plugAfterMs");   // from the unplug (save: from the failed read)
    QTest::addColumn<bool>("resumes");      // else the missing-card box stays up
    QTest::addColumn<int>("pictures");

    QTest::newRow("preview, back within the second: preview resumes") << "preview" << 300 << true << 0;
    QTest::newRow("preview, back too late: missing-card box") << "preview" << 2500 << false << 0;
    QTest::newRow("during the capture read: nothing saved, resumes")
        << "save" << 0 << true << 0;
    QTest::newRow("while Saved shows: picture kept, resumes") << "saved" << 300 << true << 1;
}

void TestFaults::cardUnplugged()
{
    QFETCH(QString, phase);
    QFETCH(int, plugAfterMs);
    QFETCH(bool, resumes);
    QFETCH(int, pictures);

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    int from = int(pda.log().size());

    if (phase == "preview") {
        QVERIFY(pda.control("unplug"));
        QTest::qWait(plugAfterMs);
    } else if (phase == "save") {
        QVERIFY(pda.control("frame-ms 1500"));
        QVERIFY(pda.control("shutter"));
        QVERIFY(waitForLine(pda, from, captureGeometry, 6000));
        const int geometry = indexFrom(pda.log(), from, captureGeometry);
        QVERIFY(waitForLine(pda, geometry, "write M=0", 2000));
        QTest::qWait(200);  // the capture read is waiting for its frame now
        QVERIFY(pda.control("unplug"));
        QVERIFY2(waitForLine(pda, geometry, "read 307200 EIO", 4000), qPrintable(tail(pda.log())));
        QVERIFY(pda.control("frame-ms 10"));
    } else {
        QVERIFY(shoot(pda) >= 0);
        QVERIFY(waitFor([&] { return QFile::exists(pictureIn(internalFolder(pda), 1)); }, 3000));
        QVERIFY2(indexFrom(pda.log(), from, "write B") < 0, "the Saved message was already over");
        QVERIFY(pda.control("unplug"));
        QTest::qWait(plugAfterMs);
    }
    QVERIFY(pda.control("plug"));
    const int plugged = int(pda.log().size());

    if (resumes) {
        QVERIFY2(waitForFrames(pda, plugged, 5, 6000), qPrintable(tail(pda.log(), 30)));
        // The old descriptor is dead; a new one carries the preview.
        QVERIFY(indexFrom(pda.log(), from, "open") >= 0);
    } else {
        // The node could not be opened: the missing-card box waits for the user, no tick
        // runs behind it, nothing more reaches the card.
        QVERIFY2(indexFrom(pda.log(), from, "open ENODEV") >= 0, qPrintable(tail(pda.log(), 30)));
        const int seen = int(pda.log().size());
        QTest::qWait(1500);
        QVERIFY(pda.cameraRunning());
        QCOMPARE(pda.log().mid(seen).filter(QRegularExpression("^(open|read|write)")), QStringList());
    }
    QVERIFY(pda.cameraRunning());
    QCOMPARE(picturesUnder(pda.storage).size(), pictures);
    endAndCheck(pda, pda.storage);
}

void TestFaults::cardAbsentTenSeconds()
{
    VirtualPda pda;
    QVERIFY(startPreview(pda, "[Option]\nSlowCapture=14\n"));
    int from = int(pda.log().size());
    QVERIFY(pda.control("orientation 1"));
    QVERIFY(waitForLine(pda, from, "write M=15", 3000));

    from = int(pda.log().size());
    QVERIFY(pda.control("present 0"));
    QTest::qWait(10000);
    const int back = int(pda.log().size());
    QVERIFY(pda.control("present 1"));
    QVERIFY(waitForFrames(pda, back, 5, 5000));

    const QStringList lines = pda.log();
    // Absent: reopened about once a second, polled, closed; no frame asked for.
    const QStringList absent = lines.mid(from, back - from);
    QVERIFY(framesFrom(absent, 0) <= 1);
    const int opens = int(absent.count("open"));
    QVERIFY2(opens >= 8 && opens <= 12, qPrintable(QStringLiteral("%1 openings in 10 s").arg(opens)));

    // The opening that resumed: all three mode bits sent anew, then the preview geometry,
    // then whole frames in the slow, mirrored mode.
    int firstFrame = back;
    while (firstFrame < lines.size() && !isFrameRead(lines[firstFrame]))
        ++firstFrame;
    QStringList resumed;
    for (int i = int(lines.lastIndexOf("open", firstFrame)); i >= 0 && i < lines.size(); ++i) {
        if (!lines[i].startsWith("control "))
            resumed << lines[i];
    }
    QVERIFY(resumed.size() > 8);
    QCOMPARE(resumed.mid(0, 4), (QStringList{"open", "write M=1", "write M=3", "write M=15"}));
    int i = 4;
    while (i < resumed.size() && resumed[i] == statusRead)
        ++i;
    QVERIFY2(i > 4 && QRegularExpression("^write [RS]=\\d+,\\d+,\\d+,\\d+$").match(resumed.value(i)).hasMatch(),
             qPrintable(resumed.mid(0, 12).join("\n  ")));
    QCOMPARE(resumed.value(i + 1), QStringLiteral("write M=14"));
    QVERIFY(isFrameRead(resumed.value(i + 2)));
    QCOMPARE(resumed.value(i + 3), QStringLiteral("write M=15"));
    for (int k = i + 1; k < resumed.size(); ++k)
        QVERIFY2(isPreviewLine(resumed[k]) && resumed[k] != "write M=1" && resumed[k] != "write M=3",
                 qPrintable(resumed.mid(k - 3, 6).join("\n  ")));
    endAndCheck(pda, pda.storage, 0);
}

void TestFaults::cardFaults_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("target");  // now, during a preview frame read, during the capture read
    QTest::addColumn<QString>("fault");   // the log line of the fault

    QTest::newRow("preview: three failed reads") << QByteArray("fail-reads 3") << "now" << "^read \\d+ EIO$";
    QTest::newRow("preview: short frame read") << QByteArray("short-read 100") << "frame" << "^read 153600 100$";
    QTest::newRow("preview: two failed writes") << QByteArray("fail-writes 2") << "now" << "^write \\S+ EIO$";
    QTest::newRow("preview: busy for 300 ticks") << QByteArray("busy 1") << "now" << "^read 4 4$";
    QTest::newRow("capture read fails: no picture") << QByteArray("fail-reads 1") << "capture" << "^read 307200 EIO$";
    QTest::newRow("capture read short: no picture") << QByteArray("short-read 1000") << "capture" << "^read 307200 1000$";
    QTest::newRow("mode write after the capture fails") << QByteArray("fail-writes 1") << "capture" << "^write M=1 EIO$";
}

void TestFaults::cardFaults()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, target);
    QFETCH(QString, fault);
    const bool atCapture = target == "capture";
    const QRegularExpression faultLine(fault);

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    const int from = int(pda.log().size());
    int pictures = 0;
    if (atCapture) {
        QVERIFY(pda.control("frame-ms 1500"));
        QVERIFY(pda.control("shutter"));
        QVERIFY(waitForLine(pda, from, captureGeometry, 6000));
        QTest::qWait(300);
        QVERIFY(pda.control(command));
        QVERIFY(pda.control("frame-ms 10"));
        QVERIFY2(waitFor([&] { return !pda.log().mid(from).filter(faultLine).isEmpty(); }, 4000),
                 qPrintable(tail(pda.log())));
        if (command.startsWith("fail-writes")) {
            // The frame came whole; only the mode write after it failed.
            QVERIFY(waitFor([&] { return QFile::exists(pictureIn(internalFolder(pda), 1)); }, 3000));
            pictures = 1;
        } else {
            // A frame that did not come whole is no picture: the save-failure box is up,
            // nothing is written, and the preview goes on behind the box.
            const int failed = int(pda.log().size());
            QVERIFY2(waitForFrames(pda, failed, 5, 6000), qPrintable(tail(pda.log(), 30)));
            QCOMPARE(picturesUnder(pda.storage), QStringList());
            QVERIFY(pda.cameraRunning());
            endAndCheck(pda, pda.storage, 0);
            return;
        }
    } else if (target == "frame") {
        // The next frame read waits long enough for the fault to reach it.
        QVERIFY(pda.control("frame-ms 400"));
        const int slow = int(pda.log().size());
        QVERIFY(waitForLine(pda, slow, "write M=0", 2000));
        QVERIFY(pda.control(command));
        QVERIFY(pda.control("frame-ms 10"));
        QVERIFY2(waitFor([&] { return !pda.log().mid(from).filter(faultLine).isEmpty(); }, 4000),
                 qPrintable(tail(pda.log())));
    } else if (command == "busy 1") {
        QVERIFY(pda.control(command));
        QVERIFY(waitFor([&] { return pda.log().mid(from).count(statusRead) >= 300; }, 10000));
        const QStringList busy = pda.log().mid(from);
        QVERIFY2(framesFrom(busy, 0) <= 1, "frames were read while the card was busy");
        QVERIFY(pda.control("busy 0"));
    } else {
        QVERIFY(pda.control(command));
        QVERIFY(waitFor([&] { return !pda.log().mid(from).filter(faultLine).isEmpty(); }, 4000));
    }

    // The preview goes on, and the next press gives a whole picture.
    QVERIFY2(waitForFrames(pda, int(pda.log().size()), 5, 6000), qPrintable(tail(pda.log(), 30)));
    QVERIFY(pda.cameraRunning());
    QVERIFY(shoot(pda) >= 0);
    ++pictures;
    QVERIFY(waitFor([&] { return QFile::exists(pictureIn(internalFolder(pda), pictures)); }, 3000));
    QCOMPARE(picturesUnder(pda.storage).size(), pictures);
    endAndCheck(pda, pda.storage, pictures);
}

// ---- the memory card's storage --------------------------------------------------------------

void TestFaults::memoryCardFailures_data()
{
    QTest::addColumn<int>("leaveFree");    // bytes left on the 64 KiB card; -1: not filled
    QTest::addColumn<bool>("readOnly");

    QTest::newRow("card full") << 0 << false;
    QTest::newRow("card nearly full: the write runs out") << 4096 << false;
    QTest::newRow("card mounted read-only") << -1 << true;
}

void TestFaults::memoryCardFailures()
{
    QFETCH(int, leaveFree);
    QFETCH(bool, readOnly);

    CardMount card("size=64k,mode=0755");
    QVERIFY(card.ok());
    QVERIFY(QDir().mkpath(QString(cardFolder) + "/Documents/Image_Files"));
    if (leaveFree >= 0)
        QVERIFY(fillUp(cardFolder, leaveFree));
    if (readOnly)
        QVERIFY(card.remountReadOnly());
    const QStringList before = filesUnder(cardFolder);

    VirtualPda pda;
    // Fine at quality 100: a picture larger than the one block left.
    QVERIFY(startPreview(pda, "[Option]\nSaveTo=1\nQuality=1\nQualityFine=100\n"));
    const int press = shoot(pda);
    QVERIFY(press >= 0);
    // The save-failure box is up; the preview goes on behind it.
    QVERIFY(waitForFrames(pda, indexFrom(pda.log(), press, captureRead) + 1, 5, 3000));
    QVERIFY(pda.cameraRunning());

    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
    const QByteArray settings = pda.settings();
    const QString problem = settingsProblem(settings);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(settings.contains("SaveTo=1"));
    QCOMPARE(picturesUnder(pda.storage), QStringList());
    for (const QString& p : picturesUnder(cardFolder))
        qInfo("on the card: %s, %lld bytes, %s; Serial at exit %d", qPrintable(p),
              QFileInfo(p).size(), qPrintable(pictureProblem(p)), settingsSerial(settings));
    const QStringList after = filesUnder(cardFolder);
    QVERIFY2(after == before, qPrintable("left on the card: " + after.join(", ")));
    QCOMPARE(settingsSerial(settings), 0);
}

void TestFaults::memoryCardRemoved_data()
{
    QTest::addColumn<bool>("notice");
    QTest::newRow("umount, then mtabChanged(): the next picture goes inside") << true;
    QTest::newRow("umount without notice: seen in the mount table, the next picture goes inside") << false;
}

void TestFaults::memoryCardRemoved()
{
    QFETCH(bool, notice);

    CardMount card("size=1m,mode=0755");
    QVERIFY(card.ok());
    const QString cardPictures = QString(cardFolder) + "/Documents/Image_Files";
    QVERIFY(QDir().mkpath(cardPictures));

    VirtualPda pda;
    QVERIFY(startPreview(pda, "[Option]\nSaveTo=1\n"));
    QVERIFY(shoot(pda) >= 0);
    QVERIFY(waitFor([&] { return QFile::exists(pictureIn(cardPictures, 1)); }, 3000));
    QVERIFY(waitForLine(pda, 0, "write B", 3000));
    QVERIFY(card.unmount());
    if (notice) {
        { QCopEnvelope e("QPE/Card", "mtabChanged()"); }
    }
    QTest::qWait(500);
    const int press = shoot(pda);
    QVERIFY(press >= 0);
    QVERIFY(waitForFrames(pda, indexFrom(pda.log(), press, captureRead) + 1, 3, 3000));
    QVERIFY(pda.cameraRunning());

    // Nothing lands on the root file system's card folder.
    QCOMPARE(filesUnder(cardFolder), QStringList());
    QVERIFY(waitFor([&] { return QFile::exists(pictureIn(internalFolder(pda), 2)); }, 3000));
    QCOMPARE(picturesUnder(pda.storage), QStringList{pictureIn(internalFolder(pda), 2)});
    endAndCheck(pda, pda.storage, 2);
    QVERIFY(pda.settings().contains("SaveTo=0"));
}

void TestFaults::memoryCardWriteProtected_data()
{
    QTest::addColumn<bool>("noCheck");
    QTest::newRow("locked: internal storage chosen at start") << false;
    QTest::newRow("locked, NoCheckSDWP=1: the card anyway") << true;
}

void TestFaults::memoryCardWriteProtected()
{
    QFETCH(bool, noCheck);

    const QString shim = qEnvironmentVariable("FAULTS_SLOTSTAT_SHIM");
    QVERIFY2(QFile::exists(shim), qPrintable("no slot-status shim at " + shim));
    CardMount card("size=1m,mode=0755");
    QVERIFY(card.ok());

    VirtualPda pda;
    CameraEnvironment extra;
    extra.preload = shim;
    extra.slotLog = pda.dir.path() + "/slotstat.log";
    QVERIFY(startPreview(pda, noCheck ? "[Option]\nSaveTo=1\nNoCheckSDWP=1\n" : "[Option]\nSaveTo=1\n",
                         extra));
    QCOMPARE(QFile::exists(extra.slotLog), !noCheck);
    QVERIFY(shoot(pda) >= 0);
    const QString expected = noCheck ? QString(cardFolder) + "/pic0001.jpg"
                                     : pictureIn(internalFolder(pda), 1);
    QVERIFY(waitFor([&] { return QFile::exists(expected); }, 3000));
    QCOMPARE(picturesUnder(cardFolder).size() + picturesUnder(pda.storage).size(), 1);
    endAndCheck(pda, noCheck ? QString(cardFolder) : pda.storage, 1);
    QVERIFY(pda.settings().contains(noCheck ? "SaveTo=1" : "SaveTo=0"));
}

// ---- the internal storage --------------------------------------------------------------------

void TestFaults::internalStorage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("homeLength");  // 0: as the harness makes it
    QTest::addColumn<bool>("saved");

    QTest::newRow("internal storage full") << "full" << 0 << false;
    QTest::newRow("internal storage nearly full: the write runs out") << "nearly" << 0 << false;
    QTest::newRow("picture folder replaced by a file") << "folderfile" << 0 << false;
    QTest::newRow("HOME unset: /home/ on the root file system, its partition missing")
        << "unset" << 0 << false;
    QTest::newRow("HOME of 100 characters") << "long" << 100 << false;
    QTest::newRow("HOME of 250 characters") << "long" << 250 << false;
    QTest::newRow("HOME of 4000 characters") << "long" << 4000 << false;
    QTest::newRow("HOME with blanks, quotes, $(...), ; and line breaks") << "shell" << 0 << true;
}

void TestFaults::internalStorage()
{
    QFETCH(QString, kind);
    QFETCH(int, homeLength);
    QFETCH(bool, saved);

    VirtualPda pda;
    QVERIFY(pda.ready());
    CameraEnvironment extra;
    QStringList realHome;
    if (kind == "long") {
        // Folders of at most 200 characters, so that every name is a legal file name.
        QString home = pda.storage;
        while (home.size() < homeLength) {
            const int part = qMin(200, int(homeLength - home.size() - 1));
            home += '/' + QString(qMax(1, part), QChar('h'));
        }
        QCOMPARE(home.size(), homeLength);
        pda.setHome(home);
    } else if (kind == "shell") {
        pda.setHome(pda.storage + "/a b 'q' \"d\" $(touch x); `touch y`;touch z\nnext");
    } else if (kind == "unset") {
        struct stat home;
        struct stat root;
        if (::stat("/home", &home) == 0 && ::stat("/", &root) == 0 && home.st_dev != root.st_dev)
            QSKIP("/home is a file system of its own here; the camera would write into it");
        realHome = QDir("/home").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        extra.unsetHome = true;
        // The handheld's table names the home partition, which is not mounted here.
        extra.fileSystemTable = pda.dir.path() + "/fstab";
        VirtualPda::writeFile(extra.fileSystemTable, "/dev/mmcblk0p3 /home ext3 defaults 0 2\n");
    }
    QVERIFY(QDir().mkpath(pda.home));
    const QByteArray oldSettings = "[Option]\nSlowCapture=12\nQuality=1\nQualityFine=100\n\n"
                                   "[File]\nSerial=0\nRemain=4\nSaveWait=1000\n";
    pda.writeSettings(oldSettings);
    if (kind == "full" || kind == "nearly")
        QVERIFY(fillUp(pda.storage, kind == "full" ? 0 : 4096));
    if (kind == "folderfile") {
        QVERIFY(QDir().mkpath(pda.home + "/Documents"));
        VirtualPda::writeFile(pda.home + "/Documents/Image_Files", "not a folder\n");
    }
    const QStringList before = filesUnder(pda.storage);

    QVERIFY(startPreview(pda, {}, extra));
    const int press = shoot(pda);
    QVERIFY(press >= 0);
    if (saved)
        QVERIFY(waitFor([&] { return QFile::exists(pictureIn(internalFolder(pda), 1)); }, 3000));
    // Saved or refused, the preview comes back (behind the box when refused).
    QVERIFY(waitForFrames(pda, indexFrom(pda.log(), press, captureRead) + 1, 3, saved ? 4000 : 3000));
    QVERIFY(pda.cameraRunning());

    if (saved) {
        QCOMPARE(picturesUnder(pda.storage), QStringList{pictureIn(internalFolder(pda), 1)});
        for (const QString& folder : {pda.work, pda.storage, pda.home})
            for (const char* name : {"/x", "/y", "/z"})
                QVERIFY2(!QFile::exists(folder + name), qPrintable(folder + name + " was made"));
    } else {
        for (const QString& p : picturesUnder(pda.storage))
            qInfo("kept: %s, %lld bytes, %s", qPrintable(p), QFileInfo(p).size(),
                  qPrintable(pictureProblem(p)));
        QCOMPARE(picturesUnder(pda.storage), QStringList());
        const QStringList after = filesUnder(pda.storage);
        QVERIFY2(after == before, qPrintable("left: " + after.join(", ")));
    }
    if (kind == "unset") {
        QCOMPARE(QDir("/home").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 realHome);
    }
    if (kind == "full") {
        // No room for new settings: the old ones must stay.
        QCOMPARE(pda.terminateCamera(), 0);
        qInfo("settings after the exit: %lld bytes", qint64(pda.settings().size()));
        QCOMPARE(pda.settings(), oldSettings);
        return;
    }
    endAndCheck(pda, pda.storage, saved ? 1 : 0);
}

// ---- signals ---------------------------------------------------------------------------------

void TestFaults::sigterm_data()
{
    QTest::addColumn<bool>("duringSave");
    QTest::newRow("SIGTERM in the preview") << false;
    QTest::newRow("SIGTERM while the capture read waits") << true;
}

void TestFaults::sigterm()
{
    QFETCH(bool, duringSave);

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    if (duringSave) {
        const int from = int(pda.log().size());
        QVERIFY(pda.control("frame-ms 1500"));
        QVERIFY(pda.control("shutter"));
        QVERIFY(waitForLine(pda, from, captureGeometry, 6000));
        pda.camera.terminate();
        // The save finishes first, then the window closes.
        QVERIFY(pda.camera.waitForFinished(8000));
        QCOMPARE(pda.camera.exitStatus(), QProcess::NormalExit);
        QCOMPARE(pda.camera.exitCode(), 0);
        QCOMPARE(picturesUnder(pda.storage), QStringList{pictureIn(internalFolder(pda), 1)});
    }
    endAndCheck(pda, pda.storage, duringSave ? 1 : 0);
    QVERIFY(waitFor([&] { return pda.log().contains("close"); }, 3000));
    const QStringList lines = pda.log();
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"write M=0", "close"}));
}

void TestFaults::sigkillDuringSave_data()
{
    QTest::addColumn<bool>("whileBlocked");  // else as soon as the frame has arrived
    QTest::newRow("SIGKILL while the capture read waits") << true;
    QTest::newRow("SIGKILL right after the capture frame") << false;
}

void TestFaults::sigkillDuringSave()
{
    QFETCH(bool, whileBlocked);

    VirtualPda pda;
    const QByteArray oldSettings = "[Option]\nSlowCapture=12\n\n[File]\nSerial=0\nRemain=4\nSaveWait=0\n";
    // A picture the stored serial does not know of.
    QVERIFY(writeOldPicture(pictureIn(internalFolder(pda), 1)));
    QVERIFY(startPreview(pda, oldSettings));
    const auto old = hashes(picturesUnder(pda.storage));

    const int from = int(pda.log().size());
    QVERIFY(pda.control(whileBlocked ? "frame-ms 3000" : "frame-ms 10"));
    QVERIFY(pda.control("shutter"));
    if (whileBlocked) {
        // The capture's own M=0, not a preview frame's: the one after the capture geometry.
        QVERIFY(waitForLine(pda, from, captureGeometry, 6000));
        QVERIFY(waitForLine(pda, indexFrom(pda.log(), from, captureGeometry), "write M=0", 2000));
    } else {
        QVERIFY(waitForLine(pda, from, captureRead, 6000));
    }
    killCamera(pda);
    QCOMPARE(pda.camera.exitStatus(), QProcess::CrashExit);
    QVERIFY(pda.control("frame-ms 10"));

    const QString broken = picturesProblem(pda.storage);
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
    QCOMPARE(pda.settings(), oldSettings);
    qInfo("after the kill: pictures %s; other files: %s",
          qPrintable(picturesUnder(pda.storage).join(", ")), qPrintable(othersUnder(pda.storage).join(", ")));
    if (whileBlocked)
        QCOMPARE(picturesUnder(pda.storage), QStringList{pictureIn(internalFolder(pda), 1)});

    // The next start numbers on past every picture there is.
    const QStringList before = picturesUnder(pda.storage);
    const auto kept = hashes(before);
    QVERIFY(startPreview(pda));
    const int press = shoot(pda);
    QVERIFY(press >= 0);
    QVERIFY(waitForLine(pda, press, "write B", 3000));  // SaveWait 0: answered once saved
    // The card still holds the press the killed run never answered: the new run may take
    // that picture as well, at start.
    const QStringList now = picturesUnder(pda.storage);
    qInfo("after the restart: %s", qPrintable(now.join(", ")));
    QVERIFY(now.size() > before.size());
    for (auto it = kept.begin(); it != kept.end(); ++it)
        QVERIFY2(fileHash(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    QCOMPARE(fileHash(pictureIn(internalFolder(pda), 1)), old.value(pictureIn(internalFolder(pda), 1)));
    // The new ones number on from the highest there was, without a gap.
    for (int n = highestNumber(before) + 1; n <= highestNumber(before) + int(now.size() - before.size()); ++n)
        QVERIFY2(now.contains(pictureIn(internalFolder(pda), n)), qPrintable(now.join(", ")));
    endAndCheck(pda, pda.storage);
}

void TestFaults::killDuringSettingsWrite()
{
    VirtualPda pda;
    QVERIFY(pda.ready());
    QByteArray settings = "[Option]\nSlowCapture=12\n\n[File]\nSerial=0\nRemain=4\nSaveWait=0\n";
    pda.writeSettings(settings);
    QStringList report;
    for (int round = 0; round < 10; ++round) {
        QVERIFY(startPreview(pda));
        const auto kept = hashes(picturesUnder(pda.storage));
        const int press = shoot(pda);
        QVERIFY(press >= 0);
        QVERIFY(waitForLine(pda, press, "write B", 3000));  // SaveWait 0: answered once saved
        const int taken = highestNumber(picturesUnder(pda.storage));
        QCOMPARE(picturesUnder(pda.storage).size(), kept.size() + 1);

        const int delayUs = int(QRandomGenerator::global()->bounded(20001));
        pda.camera.terminate();
        ::usleep(useconds_t(delayUs));
        killCamera(pda);
        const bool clean = pda.camera.exitStatus() == QProcess::NormalExit;

        const QByteArray now = pda.settings();
        QByteArray expectedNew = settings;
        expectedNew.replace("Serial=" + QByteArray::number(settingsSerial(settings)),
                            "Serial=" + QByteArray::number(taken));
        QVERIFY2(now == settings || now == expectedNew,
                 qPrintable(QStringLiteral("round %1, kill after %2 us: settings are\n%3")
                                .arg(round).arg(delayUs).arg(QString::fromLatin1(now))));
        const QString broken = picturesProblem(pda.storage);
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
        for (auto it = kept.begin(); it != kept.end(); ++it)
            QVERIFY2(fileHash(it.key()) == it.value(), qPrintable(it.key() + " changed"));
        report << QStringLiteral("%1 us: %2%3").arg(delayUs)
                      .arg(now == settings ? "old" : "new")
                      .arg(clean ? " (ended by itself)" : "");
        settings = now;
    }
    qInfo("settings after each kill: %s", qPrintable(report.join("; ")));
    const QStringList left = QDir(pda.home + "/.config").entryList(QDir::Files | QDir::Hidden);
    qInfo("settings folder: %s", qPrintable(left.join(", ")));

    // One more start: a new number, every earlier picture as it was.
    const QStringList before = picturesUnder(pda.storage);
    const auto kept = hashes(before);
    QVERIFY(startPreview(pda));
    QVERIFY(shoot(pda) >= 0);
    QVERIFY(waitFor([&] { return picturesUnder(pda.storage).size() == before.size() + 1; }, 3000));
    for (auto it = kept.begin(); it != kept.end(); ++it)
        QVERIFY2(fileHash(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    endAndCheck(pda, pda.storage);
}

// ---- the settings file -------------------------------------------------------------------------

void TestFaults::damagedSettings_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("newName");  // beside the old pic0001.jpg
    QTest::addColumn<int>("serial");       // at exit

    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 131 + 7) & 0xff);
    QTest::newRow("empty") << "file" << QByteArray("") << "pic0002.jpg" << 2;
    QTest::newRow("binary") << "file" << binary << "pic0002.jpg" << 2;
    QTest::newRow("a directory") << "dir" << QByteArray() << "pic0002.jpg" << -1;
    QTest::newRow("a named pipe nobody writes") << "fifo" << QByteArray() << "pic0002.jpg" << -1;
    QTest::newRow("unreadable (mode 000, no DAC override)") << "unreadable"
        << QByteArray("[File]\nSerial=7\n") << "pic0002.jpg" << 2;
    QTest::newRow("absurd values") << "file"
        << QByteArray("[Option]\nSlowCapture=99999999999\nDispModeMax=-2147483648\n"
                      "DispMode=2147483647\nResolutionMax=0x10\nResolution=-1\nQuality=1e9\n"
                      "QualityNormal=-1\nQualityFine=101\nSaveTo=7\nSaveDirection=-2147483648\n"
                      "NoCheckSDWP=\n[File]\nNamePrefix=" + QByteArray(300, 'p') + "\n"
                      "NameSuffix=jpgjpgjpgjpg\nSaveFormat=JPEG\nSerial=-5\nRemain=-1\n"
                      "SaveWait=-99999999999\n[Option]\n[]\n=\n==\n[[x]]\nSlowCapture\n")
        << QString(15, QChar('p')) + "0001.jpgjpgj" << 1;
}

void TestFaults::damagedSettings()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, newName);
    QFETCH(int, serial);

    VirtualPda pda;
    QVERIFY(pda.ready());
    pda.writeSettings({});
    if (kind == "dir") {
        QVERIFY(QDir().mkpath(pda.settingsPath()));
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(pda.settingsPath()).constData(), 0644) == 0);
    } else {
        QFile f(pda.settingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        if (kind == "unreadable")
            QVERIFY(::chmod(QFile::encodeName(pda.settingsPath()).constData(), 0) == 0);
    }
    QVERIFY(writeOldPicture(pictureIn(internalFolder(pda), 1)));
    const QByteArray oldPicture = fileHash(pictureIn(internalFolder(pda), 1));

    CameraEnvironment extra;
    extra.withoutDacOverride = kind == "unreadable";
    if (kind == "fifo") {
        QVERIFY(pda.startEmulator());
        QVERIFY(startCamera(pda, extra));
        const bool previews = waitForFrames(pda, 0, 3, 3000);
        const QStringList lines = pda.log();
        QVERIFY2(previews, qPrintable(lines.join("\n  ")));
        QCOMPARE(pda.terminateCamera(), 0);
        return;
    }
    QVERIFY(startPreview(pda, {}, extra));
    QVERIFY(shoot(pda) >= 0);
    const QString picture = internalFolder(pda) + '/' + newName;
    QVERIFY(waitFor([&] { return QFile::exists(picture); }, 3000));
    QTest::qWait(100);
    QCOMPARE(filesUnder(pda.storage), (QStringList{pictureIn(internalFolder(pda), 1), picture}));
    QCOMPARE(fileHash(pictureIn(internalFolder(pda), 1)), oldPicture);
    const QString broken = pictureProblem(picture);
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 2, 4000));
    QCOMPARE(pda.terminateCamera(), 0);

    if (kind == "dir") {
        QVERIFY(QFileInfo(pda.settingsPath()).isDir());
        return;
    }
    const QByteArray now = pda.settings();
    if (kind == "unreadable") {
        // QSaveFile refuses to replace a file it may not write: the old one stays.
        QCOMPARE(now, content);
        return;
    }
    // The user's lines stay, in order, byte for byte; only the keys written at exit change.
    const QList<QByteArray> written = {"SlowCapture=", "DispMode=", "Resolution=", "Quality=",
                                       "SaveTo=", "SaveDirection=", "Serial=", "Remain=", "SaveWait="};
    qsizetype from = 0;
    for (const QByteArray& line : content.split('\n')) {
        if (std::any_of(written.begin(), written.end(), [&](const QByteArray& k) { return line.startsWith(k); }))
            continue;
        const qsizetype at = now.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable("lost: " + QString::fromLatin1(line)));
        from = at + line.size();
    }
    const QMap<QString, QString> values = parseSettings(now, nullptr);
    for (const char* key : {"Option/SlowCapture", "File/Serial", "File/Remain", "File/SaveWait"})
        QVERIFY2(QRegularExpression(QStringLiteral("^-?\\d+$")).match(values.value(QLatin1String(key))).hasMatch(),
                 key);
    QCOMPARE(settingsSerial(now), serial);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
