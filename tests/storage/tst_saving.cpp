// Saving a picture: the file written, the serial advanced only on success, nothing left
// behind by a failed write, and the quality reaching the encoder.
#include "support/testenvironment.h"
#include "tools/cardmount.h"

#include "storage/picturewriter.h"
#include "storage/storageprobe.h"

#include <QBuffer>
#include <QDirIterator>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLCDNumber>
#include <QPushButton>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// A small file system of its own, mounted for one test and unmounted after it.
class TinyMount {
public:
    explicit TinyMount(const QString& path, const char* size)
        : path(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        const QByteArray options = QByteArray("size=") + size;
        mounted = ::mount("tmpfs", this->path.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~TinyMount()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    QByteArray path;
    bool mounted = false;
};

void paintPattern(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = quint16((x * 7) ^ (y * 13) ^ (x * y));
    }
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size());
    return files;
}

// A running card for the window: its capture frames are the pictures saved.
#define START_CARD(card, env)                                                   \
    const QString reason = CardMount::unavailableReason();                     \
    if (!reason.isEmpty())                                                     \
        QSKIP(qPrintable(reason));                                             \
    CardMount card;                                                            \
    QVERIFY(card.start());                                                     \
    const QByteArray cardNode = card.node("vdc");                              \
    env.paths.deviceNode = cardNode.constData()

// Whether the counter shows `text`, drawn as a counter of the same look would draw it.
bool lcdShows(QLCDNumber* lcd, const QString& text)
{
    QLCDNumber reference;
    reference.setDigitCount(lcd->digitCount());
    reference.setSegmentStyle(lcd->segmentStyle());
    reference.setFrameShape(lcd->frameShape());
    reference.setPalette(lcd->palette());
    reference.resize(lcd->size());
    reference.display(text);
    return lcd->grab().toImage().convertToFormat(QImage::Format_RGB32)
        == reference.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pictures of `kib` that fit into the free blocks under `folder`.
int picturesFitting(const QString& folder, int kib)
{
    struct statfs fs;
    if (::statfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return -1;
    const qint64 perPicture = (qint64(kib) * 1024 + fs.f_bsize - 1) / fs.f_bsize;
    return int(qMin<qint64>(qint64(fs.f_bfree) / perPicture, 99999));
}

} // namespace

class TestSaving : public QObject {
    Q_OBJECT
private slots:
    void savesAndAdvancesTheSerial();
    void qualityReachesTheEncoder();
    void sameBytesAsFromThirtyTwoBits();
    void fullStorageLeavesNothing();
    void refusedSaves_data();
    void refusedSaves();
    void counterFollowsOptions();
};

void TestSaving::savesAndAdvancesTheSerial()
{
    TestEnvironment env;
    START_CARD(card, env);
    env.writeSettings("[File]\nSerial=41\nRemain=5\n");
    auto c = env.makeCamera();
    QDir().mkpath(env.home + "/Documents/Image_Files");
    QFile(env.home + "/Documents/Image_Files/pic0042.jpg").open(QIODevice::WriteOnly);
    QString path;
    QVERIFY(c->savePicture(path));
    QCOMPARE(path, env.home + "/Documents/Image_Files/pic0043.jpg");
    QCOMPARE(c->settings().serial, 43);
    QCOMPARE(c->LCDNumber1->intValue(), 43); // "Remain" bit 0: the number saved
    QCOMPARE(c->cycle().geometryKey, -1);
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(480, 320));
    QCOMPARE(filesUnder(env.home + "/Documents/Image_Files/"), QStringList({"pic0042.jpg", "pic0043.jpg"}));
}

void TestSaving::qualityReachesTheEncoder()
{
    QTemporaryDir dir;
    QImage frame(480, 320, QImage::Format_RGB16);
    paintPattern(frame);
    PictureWriter writer;
    const QString normal = dir.filePath("normal.jpg");
    const QString fine = dir.filePath("fine.jpg");
    QVERIFY(writer.write(frame, normal, "JPEG", 30));
    QVERIFY(writer.write(frame, fine, "JPEG", 90));
    const qint64 normalSize = QFileInfo(normal).size();
    const qint64 fineSize = QFileInfo(fine).size();
    QVERIFY2(fineSize > normalSize, qPrintable(QString("%1 vs %2").arg(fineSize).arg(normalSize)));
}

void TestSaving::sameBytesAsFromThirtyTwoBits()
{
    QTemporaryDir dir;
    QImage original(480, 320, QImage::Format_RGB16);
    paintPattern(original);
    const QString path = dir.filePath("pic.jpg");
    PictureWriter pictureWriter;
    QVERIFY(pictureWriter.write(original, path, "JPEG", 30));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));

    QBuffer reference;
    reference.open(QIODevice::WriteOnly);
    QImageWriter writer(&reference, "JPEG");
    writer.setQuality(30);
    QVERIFY(writer.write(original.convertToFormat(QImage::Format_RGB32)));
    QVERIFY(file.readAll() == reference.data());
}

void TestSaving::fullStorageLeavesNothing()
{
    if (geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    TestEnvironment env;
    env.writeSettings("[File]\nSerial=7\n");
    const QString home = env.dir.filePath("tiny");
    TinyMount tiny(home, "64k");
    if (!tiny.mounted)
        QSKIP("tmpfs cannot be mounted here");
    QDir().mkpath(home + "/Documents/Image_Files");
    // Leave a little room: the probe sees free blocks, the picture does not fit.
    QFile filler(home + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    filler.resize(filler.size() - 8192);
    const QByteArray base = QFile::encodeName(home);
    QVERIFY(probeStorage(base.constData(), -1).freeBlocks > 0);

    QImage frame(480, 320, QImage::Format_RGB16);
    paintPattern(frame);
    PictureWriter writer;
    QVERIFY(!writer.write(frame, home + "/Documents/Image_Files/pic0008.jpg", "JPEG", 90));
    QCOMPARE(filesUnder(home + "/Documents/Image_Files/"), QStringList());
}

void TestSaving::refusedSaves_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("no card") << "no card";
    QTest::newRow("folder is a file") << "folder is a file";
    QTest::newRow("unwritable folder") << "unwritable folder";
    QTest::newRow("home too long") << "home too long";
    QTest::newRow("home not valid in the file system's encoding") << "home not UTF-8";
    QTest::newRow("capture read fails") << "fail-reads 1";
    QTest::newRow("capture read short") << "short-read 1000";
}

void TestSaving::refusedSaves()
{
    QFETCH(QString, situation);
    TestEnvironment env;
    START_CARD(card, env);
    // QTemporaryDir cannot remove a name it cannot carry.
    struct RemovedAtEnd {
        QByteArray path;
        ~RemovedAtEnd() { if (!path.isEmpty()) ::rmdir(path.constData()); }
    } stray;
    env.writeSettings("[File]\nSerial=3\n");
    auto c = env.makeCamera();
    const QString folder = env.home + "/Documents/Image_Files";
    if (situation == "no card") {
        c->selectSaveTo(1);
        QCOMPARE(c->settings().saveTo, 1);
        QVERIFY(QDir(env.card).removeRecursively());
    } else if (situation == "folder is a file") {
        QDir().mkpath(env.home + "/Documents");
        QFile(folder).open(QIODevice::WriteOnly);
    } else if (situation == "unwritable folder") {
        if (geteuid() == 0)
            QSKIP("root writes into any folder");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    } else if (situation == "home too long") {
        qputenv("HOME", QFile::encodeName(env.dir.path() + '/' + QString(120, 'h')));
    } else if (situation == "home not UTF-8") {
        // "caf\xe9" exists; saving must not go to a look-alike "caf\ufffd" either.
        const QByteArray home = QFile::encodeName(env.dir.path()) + "/caf\xe9";
        QVERIFY(::mkdir(home.constData(), 0755) == 0);
        stray.path = home;
        qputenv("HOME", home);
        QVERIFY(!c->probeStorage(0, nullptr, nullptr)); // the counter shows "Error"
    } else {
        QVERIFY(card.control(situation.toLatin1() + "\n"));
    }
    QString path;
    QVERIFY(!c->savePicture(path));
    QCOMPARE(c->settings().serial, 3);
    QVERIFY(card.logLines().contains("read 307200 307200") == (situation == "home too long"
            || situation == "no card" || situation.startsWith("folder") || situation.startsWith("unwritable")
            || situation.startsWith("home not")));
    if (QFileInfo(folder).isDir())
        QCOMPARE(filesUnder(folder + '/'), QStringList());
}

// The counter follows quality, format and storage as the user presses their buttons, shows
// free KiB where "Remain" asks, and "Error" for a storage that cannot be used.
void TestSaving::counterFollowsOptions()
{
    if (geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    TestEnvironment env;
    const QString home = env.dir.filePath("counted");
    TinyMount tiny(home, "1m");
    if (!tiny.mounted)
        QSKIP("tmpfs cannot be mounted here");
    qputenv("HOME", QFile::encodeName(home));
    {
        auto c = env.makeCamera(); // 480x320, Normal: 15 KiB a picture
        QCOMPARE(c->LCDNumber1->intValue(), picturesFitting(home, 15));
        c->PushButton2->click(); // Fine: 52 KiB
        QCOMPARE(c->LCDNumber1->intValue(), picturesFitting(home, 52));
        c->PushButton1->click(); // 240x160 Fine: 18 KiB
        QCOMPARE(c->LCDNumber1->intValue(), picturesFitting(home, 18));
        c->PushButton3->click(); // the memory card
        QCOMPARE(c->settings().saveTo, 1);
        QCOMPARE(c->LCDNumber1->intValue(), picturesFitting(env.card, 18));
        c->PushButton3->click();
        QCOMPARE(c->settings().saveTo, 0);
        qputenv("HOME", QFile::encodeName(env.dir.filePath("gone")));
        c->PushButton2->click();
        QVERIFY(lcdShows(c->LCDNumber1, "Error"));
    }
    qputenv("HOME", QFile::encodeName(home));
    env.writeSettings("[File]\nRemain=6\n");
    auto c = env.makeCamera();
    struct statfs fs;
    QCOMPARE(::statfs(QFile::encodeName(home).constData(), &fs), 0);
    QCOMPARE(c->LCDNumber1->intValue(), int(qint64(fs.f_bfree) * fs.f_bsize / 1024));
}

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
