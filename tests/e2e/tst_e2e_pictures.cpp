// The real camera binary against the card emulator: pictures taken, the internal storage's
// path, who owns the files, and the memory card followed through the mount table. Each
// case is one run of the application on its own virtual PDA (see virtualpda.h).
#include "e2e/camerarun.h"
#include "support/scene.h"

#include <QImage>
#include <QScopeGuard>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace e2e;

class TestE2ePictures : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void shutterTakesPicture_data();
    void shutterTakesPicture();
    void homeLength_data();
    void homeLength();
    void homeWithShellCharacters();
    void filesBelongToTheUser_data();
    void filesBelongToTheUser();
    void memoryCardFollowsMountTable();
};

void TestE2ePictures::initTestCase()
{
    const QString reason = cannotRun();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

// ---- pictures --------------------------------------------------------------------------

void TestE2ePictures::shutterTakesPicture_data()
{
    QTest::addColumn<int>("presses");
    QTest::newRow("one press: pic0001") << 1;
    QTest::newRow("two presses: pic0001, pic0002") << 2;
}

void TestE2ePictures::shutterTakesPicture()
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


// ---- the internal storage's path -----------------------------------------------------------

void TestE2ePictures::homeLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("saved");

    QTest::newRow("99 characters: fits") << 99 << true;
    QTest::newRow("100 characters: refused") << 100 << false;
    QTest::newRow("150 characters: refused") << 150 << false;
}

void TestE2ePictures::homeLength()
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

void TestE2ePictures::homeWithShellCharacters()
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


// ---- who owns what ------------------------------------------------------------------------

void TestE2ePictures::filesBelongToTheUser_data()
{
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("pictureMode");
    QTest::addColumn<int>("folderMode");

    QTest::newRow("user, umask 022") << false << 022 << 0644 << 0755;
    QTest::newRow("user, umask 027") << false << 027 << 0640 << 0750;
    QTest::newRow("root: warns once and works") << true << 022 << 0644 << 0755;
}

void TestE2ePictures::filesBelongToTheUser()
{
    QFETCH(bool, asRoot);
    QFETCH(int, mask);
    QFETCH(int, pictureMode);
    QFETCH(int, folderMode);

    VirtualPda pda(asRoot);
    if (asRoot)
        pda.cardOwner = QStringLiteral("root");
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

// ---- the memory card, followed through the mount table ---------------------------------

namespace {

const char* const cardFolder = "/mnt/card";
// What the environment stand-in reports while it runs with its debug output on.
const QByteArray platformDebug = "pda.application.debug=true";
const QByteArray cardNoticeLine = "mtabChanged(): the mount table changed";

bool cardFolderIsMountPoint()
{
    struct stat st;
    struct stat root;
    return ::stat(cardFolder, &st) == 0 && ::stat("/", &root) == 0 && st.st_dev != root.st_dev;
}

}  // namespace

void TestE2ePictures::memoryCardFollowsMountTable()
{
    QVERIFY2(!cardFolderIsMountPoint(), "the virtual PDA's card slot is not empty");
    VirtualPda pda;
    // The card is the camera's user's, as a desktop mounts it for the user.
    const QByteArray options = QStringLiteral("size=1m,mode=0755,uid=%1,gid=%2")
                                   .arg(pda.account.uid).arg(pda.account.gid).toLatin1();
    bool mounted = ::mount("pda-card", cardFolder, "tmpfs", 0, options.constData()) == 0;
    QVERIFY(mounted);
    auto cleanup = qScopeGuard([&mounted] {
        if (mounted)
            ::umount2(cardFolder, MNT_DETACH);
    });
    const QString cardPictures = QString(cardFolder) + "/Documents/Image_Files";
    pda.asAccount([&] { QVERIFY(QDir().mkpath(cardPictures)); });
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
    mounted = false;
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
    mounted = true;
    QVERIFY(waitFor([&] { return notices() == 2; }, 3000));
    QTest::qWait(300);
    QCOMPARE(notices(), 2);

    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(pda.settings().contains("SaveTo=0"));
}


QTEST_GUILESS_MAIN(TestE2ePictures)
#include "tst_e2e_pictures.moc"
