// Saving a picture: the file written with its EXIF block and nothing after it, the serial
// advanced only on success, the name on the medium before success is reported, nothing left
// behind by a failed write, no file replaced that appeared at the name, what a killed camera
// left settled at start, and the quality reaching the encoder.
#include "support/boxanswerer.h"
#include "support/syncspy.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"

#include "storage/exifblock.h"
#include "storage/picturewriter.h"
#include "storage/storageprobe.h"

#include <libexif/exif-data.h>

#include <QBuffer>
#include <QDirIterator>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLCDNumber>
#include <QPushButton>
#include <QRegularExpression>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>

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

// The file's bytes without the APP1 segment that follows SOI and JFIF APP0.
QByteArray withoutExifSegment(const QByteArray& jpeg)
{
    int at = 2;
    const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
    if (jpeg.size() > 6 && b[at] == 0xFF && b[at + 1] == 0xE0)
        at += 2 + ((b[at + 2] << 8) | b[at + 3]);
    if (jpeg.size() < at + 4 || b[at] != 0xFF || b[at + 1] != 0xE1)
        return jpeg;
    return jpeg.left(at) + jpeg.mid(at + 2 + ((b[at + 2] << 8) | b[at + 3]));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The tags of an EXIF block as libexif reads them back.
class ExifTags {
public:
    explicit ExifTags(ExifData* data) : data(data) {}
    ~ExifTags()
    {
        if (data)
            exif_data_unref(data);
    }
    ExifTags(const ExifTags&) = delete;
    ExifTags& operator=(const ExifTags&) = delete;
    bool isValid() const { return data != nullptr; }
    ExifEntry* entry(ExifIfd ifd, ExifTag tag) const
    {
        return data ? exif_content_get_entry(data->ifd[ifd], tag) : nullptr;
    }
    QByteArray text(ExifIfd ifd, ExifTag tag) const
    {
        const ExifEntry* e = entry(ifd, tag);
        if (!e || e->format != EXIF_FORMAT_ASCII || e->size == 0)
            return "(none)";
        return QByteArray(reinterpret_cast<const char*>(e->data), int(e->size) - 1);
    }
    long number(ExifIfd ifd, ExifTag tag) const
    {
        const ExifEntry* e = entry(ifd, tag);
        const ExifByteOrder order = exif_data_get_byte_order(data);
        if (e && e->format == EXIF_FORMAT_SHORT)
            return exif_get_short(e->data, order);
        if (e && e->format == EXIF_FORMAT_LONG)
            return long(exif_get_long(e->data, order));
        return -1;
    }
    ExifData* data;
};

// A picture as the writer makes it.
QByteArray pictureBytes(const char* format = "JPEG", QSize size = QSize(240, 160))
{
    QImage frame(size, QImage::Format_RGB16);
    paintPattern(frame);
    QTemporaryDir dir;
    PictureWriter writer;
    const QString path = dir.filePath("pic");
    if (writer.write(frame, path, format, 30, PictureInfo{QDateTime::currentDateTime(), "m", "n", "s"})
        != PictureWriter::Written)
        return {};
    return readFile(path);
}

// The effective rights of root that pass over permission bits, taken from this thread while
// it lives: root then honours the bits of its own files, as the camera's user does.
class WithoutDacOverride {
public:
    WithoutDacOverride()
    {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        lowered_ = ::syscall(SYS_capset, &header, lowered) == 0;
    }
    ~WithoutDacOverride()
    {
        if (lowered_)
            ::syscall(SYS_capset, &header, saved);
    }

private:
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] = {};
    bool lowered_ = false;
};

// What a temporary of `kind` holds: a "picture" (JPEG) or "png" whole, "cut picture" or
// "cut png" the first half of one, "large picture" a whole 640x480 JPEG, "trailing bytes" a
// whole JPEG with bytes after its end, "bmp" a picture of a format not judged, "empty"
// nothing, anything else a few bytes of text.
QByteArray contentOf(const QString& kind)
{
    if (kind == "picture" || kind == "cut picture")
        return pictureBytes();
    if (kind == "large picture")
        return pictureBytes("JPEG", QSize(640, 480));
    if (kind == "png" || kind == "cut png")
        return pictureBytes("PNG");
    if (kind == "bmp")
        return pictureBytes("BMP");
    if (kind == "trailing bytes")
        return pictureBytes() + "more";
    if (kind == "empty")
        return QByteArray();
    return "left";
}

// A file, folder, link or FIFO at `path`, last changed `ageSeconds` ago (negative: ahead of
// the clock). A file holds what contentOf() gives for `kind`; a "link to" a kind of file
// points at one beside it, "another user's" file belongs to nobody, an "unreadable" one
// has mode 000.
void makeEntry(const QString& path, QString kind, int ageSeconds)
{
    const bool otherUsers = kind.startsWith("another user's ");
    const bool unreadable = kind.startsWith("unreadable ");
    kind.remove(QRegularExpression("^(another user's|unreadable) "));
    if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "link" || kind.startsWith("link to ")) {
        QFile target(path + ".target");
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write(contentOf(kind.mid(8)));
        QVERIFY(QFile::link(QFileInfo(target).fileName(), path));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        QByteArray bytes = contentOf(kind);
        QVERIFY(kind == "empty" || !bytes.isEmpty());
        if (kind.startsWith("cut "))
            bytes.truncate(bytes.size() / 2);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const QByteArray name = QFile::encodeName(path);
    const struct timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
    if (kind.startsWith("link"))
        QCOMPARE(utimensat(AT_FDCWD, name.constData(), times, 0), 0); // its target as old
    if (otherUsers)
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    if (unreadable)
        QCOMPARE(::chmod(name.constData(), 0), 0);
    QCOMPARE(utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

class TestSaving : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void savesAndAdvancesTheSerial();
    void pictureFiles_data();
    void pictureFiles();
    void exifOffsets_data();
    void exifOffsets();
    void nameTakenMeanwhile_data();
    void nameTakenMeanwhile();
    void placedNameIsSynced_data();
    void placedNameIsSynced();
    void staleTemporaries_data();
    void staleTemporaries();
    void staleTemporaryOpenedOnce_data();
    void staleTemporaryOpenedOnce();
    void stalePictureNeverReplaces_data();
    void stalePictureNeverReplaces();
    void pictureContent_data();
    void pictureContent();
    void eachFileHoldsOnlyItsPicture();
    void qualityReachesTheEncoder();
    void sameBytesAsFromThirtyTwoBits();
    void fullStorageLeavesNothing_data();
    void fullStorageLeavesNothing();
    void refusedSaves_data();
    void refusedSaves();
    void counterFollowsOptions();
    void homeFileSystemMissing_data();
    void homeFileSystemMissing();
    void homeOnRootFileSystem_data();
    void homeOnRootFileSystem();
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

void TestSaving::cleanup()
{
}

void TestSaving::pictureFiles_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("exif");
    QTest::newRow("JPEG") << QByteArray() << "pic0001.jpg" << QByteArray("jpeg") << true;
    QTest::newRow("empty SaveFormat: as the suffix says")
        << QByteArray("SaveFormat=\n") << "pic0001.jpg" << QByteArray("jpeg") << true;
    QTest::newRow("PNG: no EXIF segment in it")
        << QByteArray("SaveFormat=PNG\nNameSuffix=png\n") << "pic0001.png" << QByteArray("png") << false;
}

void TestSaving::pictureFiles()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(bool, exif);
    TestEnvironment env;
    START_CARD(card, env);
    env.writeSettings("[File]\n" + settings);
    auto c = env.makeCamera();
    // EXIF dates have whole seconds.
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
    QString path;
    QVERIFY(c->savePicture(path));
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(path, env.home + "/Documents/Image_Files/" + name);

    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage read = reader.read();
    QCOMPARE(read.size(), QSize(480, 320));
    const QByteArray bytes = readFile(path);
    ExifTags tags(exif_data_new_from_data(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                          unsigned(bytes.size())));
    QCOMPARE(tags.entry(EXIF_IFD_0, EXIF_TAG_MAKE) != nullptr, exif);
    if (!exif)
        return;

    // The same pixels as the same frame written without the block.
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    QImageWriter writer(&plain, "JPEG");
    writer.setQuality(c->settings().qualityNormal);
    QVERIFY(writer.write(c->captureFrame().convertToFormat(QImage::Format_RGB32)));
    QImage expected;
    QVERIFY(expected.loadFromData(plain.data(), "JPEG"));
    QCOMPARE(read.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
    QCOMPARE(withoutExifSegment(bytes), plain.data());

    QVERIFY(tags.isValid());
    const QByteArray original = tags.text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    const QDateTime taken = QDateTime::fromString(QString::fromLatin1(original), "yyyy:MM:dd HH:mm:ss");
    QVERIFY2(taken.isValid() && before <= taken && taken <= after, original.constData());
    QCOMPARE(tags.text(EXIF_IFD_0, EXIF_TAG_DATE_TIME), original);
    QDateTime local = taken;
    local.setTimeSpec(Qt::LocalTime);
    const int offset = local.offsetFromUtc() / 60;
    QCOMPARE(tags.text(EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL),
             QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', qAbs(offset) / 60, qAbs(offset) % 60).toLatin1());
    QCOMPARE(tags.number(EXIF_IFD_0, EXIF_TAG_ORIENTATION), 1L);
    QCOMPARE(tags.number(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), 480L);
    QCOMPARE(tags.number(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION), 320L);
    QCOMPARE(tags.text(EXIF_IFD_0, EXIF_TAG_MAKE), QByteArray("Orvane"));
    QCOMPARE(tags.text(EXIF_IFD_0, EXIF_TAG_MODEL), QByteArray("VDC camera card"));
    QCOMPARE(tags.text(EXIF_IFD_0, EXIF_TAG_SOFTWARE), QByteArray("Orvane Camera " CAMERA_VERSION));
}

void TestSaving::exifOffsets_data()
{
    QTest::addColumn<int>("offsetSeconds");
    QTest::addColumn<QByteArray>("offset");
    QTest::addColumn<QByteArray>("date");
    QTest::newRow("UTC") << 0 << QByteArray("+00:00") << QByteArray("2026:12:31 23:59:59");
    QTest::newRow("half an hour east") << 19800 << QByteArray("+05:30") << QByteArray("2027:01:01 05:29:59");
    QTest::newRow("half an hour west") << -12600 << QByteArray("-03:30") << QByteArray("2026:12:31 20:29:59");
    QTest::newRow("fourteen hours east") << 50400 << QByteArray("+14:00") << QByteArray("2027:01:01 13:59:59");
    QTest::newRow("twelve hours west") << -43200 << QByteArray("-12:00") << QByteArray("2026:12:31 11:59:59");
}

// The date as the clock on the wall showed it, and its offset from UTC.
void TestSaving::exifOffsets()
{
    QFETCH(int, offsetSeconds);
    QFETCH(QByteArray, offset);
    QFETCH(QByteArray, date);
    const QDateTime utc(QDate(2026, 12, 31), QTime(23, 59, 59), Qt::UTC);
    const PictureInfo info{utc.toOffsetFromUtc(offsetSeconds), "m", "n", "s"};
    const QByteArray payload = exifPayload(info, QSize(640, 480), 96);
    QVERIFY(payload.startsWith(QByteArray("Exif\0\0", 6)));
    ExifTags tags(exif_data_new_from_data(reinterpret_cast<const unsigned char*>(payload.constData()),
                                          unsigned(payload.size())));
    QCOMPARE(tags.text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), date);
    QCOMPARE(tags.text(EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL), offset);
    QCOMPARE(tags.text(EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME), offset);
}

void TestSaving::nameTakenMeanwhile_data()
{
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<bool>("renameNoReplace");
    QTest::addColumn<bool>("taken");
    QTest::newRow("unnamed file") << true << true << false;
    QTest::newRow("unnamed file, name taken") << true << true << true;
    QTest::newRow("named temporary") << false << true << false;
    QTest::newRow("named temporary, name taken") << false << true << true;
    QTest::newRow("no no-replace rename (FAT)") << false << false << false;
    QTest::newRow("no no-replace rename (FAT), name taken") << false << false << true;
}

// A file that appears at the chosen name before the picture is put there is kept; the
// picture takes the next free number and the serial follows it; no temporary file stays.
void TestSaving::nameTakenMeanwhile()
{
    QFETCH(bool, unnamedFiles);
    QFETCH(bool, renameNoReplace);
    QFETCH(bool, taken);
    TestEnvironment env;
    START_CARD(card, env);
    env.writeSettings("[File]\nSerial=41\nRemain=5\n");
    const QString folder = env.home + "/Documents/Image_Files/";
    QStringList placings;
    CameraRuntime runtime;
    runtime.placing.unnamedFiles = unnamedFiles;
    runtime.placing.renameNoReplace = renameNoReplace;
    runtime.placing.beforePlacing = [&](const QString& path) {
        if (taken && placings.isEmpty()) {
            QFile other(path);
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("from another program");
        }
        placings << path.mid(folder.size());
    };
    auto c = env.makeCamera(std::move(runtime));
    QDir().mkpath(folder);
    QFile(folder + "pic0043.jpg").open(QIODevice::WriteOnly);
    // Pictures are for everyone to read, as the user's other files: 0666 less the umask.
    const mode_t umask = ::umask(002);
    QString path;
    const bool saved = c->savePicture(path);
    ::umask(umask);
    QVERIFY(saved);
    const QString name = taken ? "pic0044.jpg" : "pic0042.jpg";
    QCOMPARE(path, folder + name);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0664));
    QCOMPARE(placings, taken ? QStringList({"pic0042.jpg", "pic0044.jpg"}) : QStringList({"pic0042.jpg"}));
    QCOMPARE(c->settings().serial, taken ? 44 : 42);
    QCOMPARE(c->LCDNumber1->intValue(), taken ? 44 : 42);
    QCOMPARE(QImageReader(path).size(), QSize(480, 320));
    if (taken)
        QCOMPARE(readFile(folder + "pic0042.jpg"), QByteArray("from another program"));
    QStringList expected = {"pic0043.jpg", name};
    if (taken)
        expected << "pic0042.jpg";
    expected.sort();
    QStringList files = filesUnder(folder);
    files.sort();
    QCOMPARE(files, expected);
}

void TestSaving::placedNameIsSynced_data()
{
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<bool>("renameNoReplace");
    QTest::addColumn<int>("folderError");
    QTest::addColumn<int>("fileError");
    QTest::addColumn<bool>("written");
    QTest::newRow("unnamed file") << true << true << 0 << 0 << true;
    QTest::newRow("named temporary") << false << true << 0 << 0 << true;
    QTest::newRow("no no-replace rename (FAT)") << false << false << 0 << 0 << true;
    QTest::newRow("folder sync unsupported (EINVAL): done") << true << true << EINVAL << 0 << true;
    QTest::newRow("folder sync fails: nothing left") << true << true << EIO << 0 << false;
    QTest::newRow("folder sync fails, named temporary: nothing left") << false << true << EIO << 0 << false;
    QTest::newRow("file sync unsupported (EINVAL): done") << true << true << 0 << EINVAL << true;
    QTest::newRow("file sync unsupported (EINVAL), named temporary: done") << false << true << 0 << EINVAL << true;
    QTest::newRow("file sync fails: nothing left") << true << true << 0 << EIO << false;
    QTest::newRow("file sync fails, named temporary: nothing left") << false << true << 0 << EIO << false;
}

// "Written" only once the picture's data and name are on the medium: the file is synced,
// then its folder after the name is in place.
void TestSaving::placedNameIsSynced()
{
    QFETCH(bool, unnamedFiles);
    QFETCH(bool, renameNoReplace);
    QFETCH(int, folderError);
    QFETCH(int, fileError);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString folder = dir.filePath("Image_Files");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/pic0001.jpg";
    QImage frame(240, 160, QImage::Format_RGB16);
    paintPattern(frame);
    PictureWriter writer({unnamedFiles, renameNoReplace, {}});
    syncspy::Watch watch([&] { return QByteArray(QFile::exists(path) ? "named" : "unnamed"); },
                         folderError, fileError);
    const PictureWriter::Result result = writer.write(frame, path, "JPEG", 30, PictureInfo());
    const QList<syncspy::FolderSync> syncs = watch.syncs();
    QCOMPARE(result, written ? PictureWriter::Written : PictureWriter::Failed);
    if (fileError != EIO) {
        QVERIFY(!syncs.isEmpty());
        QCOMPARE(syncs.last().folder, QFile::encodeName(QFileInfo(folder).canonicalFilePath()));
        QCOMPARE(syncs.last().seen, QByteArray("named"));
    }
    QCOMPARE(filesUnder(folder + '/'), written ? QStringList{"pic0001.jpg"} : QStringList());
}

void TestSaving::staleTemporaries_data()
{
    QTest::addColumn<QString>("where"); // home, card, card top
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");   // as makeEntry() takes it
    QTest::addColumn<int>("ageSeconds"); // negative: dated ahead, as after the clock was set back
    QTest::addColumn<QString>("after");  // "kept", "removed", or the picture it became
    QTest::addColumn<QByteArray>("suffix"); // the setting
    const QString temporary = ".pic0001.jpg.camera-part-Ab3dE9";
    const auto row = [&](const char* title, const QString& where, const QString& kind, int age,
                         const QString& after, const QByteArray& suffix = "jpg") {
        QTest::newRow(title) << where << temporary << kind << age << after << suffix;
    };
    row("internal picture folder", "home", "cut picture", 3600, "removed");
    row("card picture folder", "card", "cut picture", 3600, "removed");
    row("card top folder", "card top", "cut picture", 3600, "removed");
    row("a minute old", "home", "cut picture", 61, "removed");
    row("an hour ahead of the clock", "home", "cut picture", -3600, "removed");
    row("still being written by another camera", "home", "cut picture", 5, "kept");
    row("seconds ahead of the clock", "home", "cut picture", -5, "kept");
    row("a complete picture", "home", "picture", 3600, "pic0007.jpg");
    row("a complete picture on the card", "card", "picture", 3600, "pic0007.jpg");
    row("a complete picture in the card's top folder", "card top", "picture", 3600, "pic0007.jpg");
    row("a complete picture ahead of the clock", "home", "picture", -3600, "pic0007.jpg");
    row("a complete picture still being written", "home", "picture", 5, "kept");
    row("a cut-off picture", "home", "cut picture", 3600, "removed");
    row("nothing written yet", "home", "empty", 3600, "removed");
    row("a complete PNG", "home", "png", 3600, "pic0007.png", "png");
    row("a complete PNG, the suffix set to jpg", "home", "png", 3600, "pic0007.png");
    row("a complete JPEG, the suffix set to png", "home", "picture", 3600, "pic0007.jpg", "png");
    row("a complete JPEG, the suffix set to JPEG", "home", "picture", 3600, "pic0007.JPEG", "JPEG");
    row("a cut-off PNG", "card", "cut png", 3600, "removed", "png");
    row("a complete picture the reader's memory limit refuses", "home", "large picture", 3600,
        "pic0007.jpg");
    row("a format not judged", "home", "bmp", 3600, "kept", "bmp");
    row("bytes after the picture's end", "home", "trailing bytes", 3600, "kept");
    row("not a picture", "home", "text", 3600, "kept");
    row("unreadable, cut off", "home", "unreadable cut picture", 3600, "kept");
    row("unreadable, complete", "home", "unreadable picture", 3600, "kept");
    row("another user's, cut off", "home", "another user's cut picture", 3600, "kept");
    row("another user's, complete", "card", "another user's picture", 3600, "kept");
    row("a folder named like one", "home", "folder", 3600, "kept");
    row("a link named like one", "home", "link", 3600, "kept");
    row("a link to a cut-off picture", "home", "link to cut picture", 3600, "kept");
    row("a link to a complete picture", "home", "link to picture", 3600, "kept");
    row("a FIFO named like one", "home", "fifo", 3600, "kept");
    QTest::newRow("a picture") << "home" << "pic0001.jpg" << "picture" << 3600 << "kept" << QByteArray("jpg");
    QTest::newRow("without the leading dot") << "home" << "pic0001.jpg.camera-part-Ab3dE9" << "picture" << 3600 << "kept" << QByteArray("jpg");
    QTest::newRow("five characters after the mark") << "home" << ".pic0001.jpg.camera-part-Ab3dE" << "picture" << 3600 << "kept" << QByteArray("jpg");
    QTest::newRow("a character no temporary has") << "home" << ".pic0001.jpg.camera-part-Ab3d-9" << "picture" << 3600 << "kept" << QByteArray("jpg");
    QTest::newRow("outside the picture folders") << "home top" << temporary << "picture" << 3600 << "kept" << QByteArray("jpg");
}

// What a killed camera left is settled at the next start, silently: a complete picture is
// numbered on like a saved one, with its own format's suffix; one shown to be cut off is
// removed; anything else stays as it was, whoever owns it and whatever it holds.
void TestSaving::staleTemporaries()
{
    QFETCH(QString, where);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, ageSeconds);
    QFETCH(QString, after);
    QFETCH(QByteArray, suffix);
    TestEnvironment env;
    env.writeSettings("[File]\nSerial=6\nNameSuffix=" + suffix + "\n");
    const QString folder = where == "home" ? env.home + "/Documents/Image_Files/"
        : where == "card" ? env.card + "Documents/Image_Files/"
        : where == "card top" ? env.card : env.home + '/';
    QDir().mkpath(folder);
    makeEntry(folder + name, kind, ageSeconds);
    const QByteArray path = QFile::encodeName(folder + name);
    struct stat was;
    QCOMPARE(::lstat(path.constData(), &was), 0);
    const QByteArray left = S_ISREG(was.st_mode) ? readFile(folder + name) : QByteArray();
    const QStringList before = filesUnder(folder);
    // A reader that refuses a picture this large must not decide what becomes of it.
    const int limit = QImageReader::allocationLimit();
    if (kind == "large picture")
        QImageReader::setAllocationLimit(1);
    std::unique_ptr<Camera> c;
    {
        std::optional<WithoutDacOverride> unprivileged;
        if (kind.startsWith("unreadable"))
            unprivileged.emplace();
        c = env.makeCamera();
    }
    QImageReader::setAllocationLimit(limit);
    const bool there = QFileInfo(folder + name).exists() || QFileInfo(folder + name).isSymLink();
    QCOMPARE(there, after == "kept");
    if (after == "kept" || after == "removed") {
        QCOMPARE(c->settings().serial, 6);
        QCOMPARE(filesUnder(folder).size(), before.size() - (after == "removed"));
        if (after == "kept") {
            struct stat is;
            QCOMPARE(::lstat(path.constData(), &is), 0);
            QCOMPARE(is.st_ino, was.st_ino);
            QCOMPARE(is.st_mode, was.st_mode);
            QCOMPARE(is.st_uid, was.st_uid);
            QCOMPARE(is.st_size, was.st_size);
            QCOMPARE(is.st_mtim.tv_sec, was.st_mtim.tv_sec);
        }
        return;
    }
    QCOMPARE(filesUnder(folder), QStringList{after});
    QCOMPARE(readFile(folder + after), left);
    QCOMPARE(c->settings().serial, 7);
}

// Each temporary judged from the one descriptor opened on its name: never through a link,
// never waiting on a FIFO for a writer that does not come.
void TestSaving::staleTemporaryOpenedOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("verdict");
    QTest::newRow("a complete picture") << "picture" << int(StaleTemporary::Complete);
    QTest::newRow("a cut-off picture") << "cut picture" << int(StaleTemporary::CutOff);
    QTest::newRow("a link to a complete picture") << "link to picture" << int(StaleTemporary::Leave);
    QTest::newRow("a link to a cut-off picture") << "link to cut picture" << int(StaleTemporary::Leave);
    QTest::newRow("a FIFO") << "fifo" << int(StaleTemporary::Leave);
    QTest::newRow("a folder") << "folder" << int(StaleTemporary::Leave);
}

// Called directly, as if the entry had been swapped in after the folder was listed.
void TestSaving::staleTemporaryOpenedOnce()
{
    QFETCH(QString, kind);
    QFETCH(int, verdict);
    QTemporaryDir dir;
    const QByteArray name = ".pic0001.jpg.camera-part-Ab3dE9";
    makeEntry(dir.filePath(name), kind, 3600);
    const UniqueFd folder(::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
    QVERIFY(folder.valid());
    std::atomic<int> judged{-1};
    std::thread judge([&] { judged = int(StaleTemporary(folder.get(), name).verdict()); });
    const bool finished = QTest::qWaitFor([&] { return judged != -1; }, 5000);
    if (!finished) {
        // Lets a reader that waits on the FIFO go, so that the test fails instead of hanging.
        const UniqueFd writer(::open(QFile::encodeName(dir.filePath(name)).constData(),
                                     O_WRONLY | O_NONBLOCK));
        judge.join();
        QFAIL("the judging waited on the entry");
    }
    judge.join();
    QCOMPARE(judged.load(), verdict);
}

// Placing a recovered picture never replaces a file that took its name meanwhile.
void TestSaving::stalePictureNeverReplaces_data()
{
    QTest::addColumn<bool>("taken");
    QTest::newRow("name free") << false;
    QTest::newRow("name taken meanwhile") << true;
}

void TestSaving::stalePictureNeverReplaces()
{
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QByteArray name = ".pic0001.jpg.camera-part-Ab3dE9";
    makeEntry(dir.filePath(name), "picture", 3600);
    const QByteArray picture = readFile(dir.filePath(name));
    const UniqueFd folder(::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
    StaleTemporary temporary(folder.get(), name);
    QCOMPARE(temporary.verdict(), StaleTemporary::Complete);
    if (taken) {
        QFile other(dir.filePath("pic0001.jpg"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("from another program");
    }
    QCOMPARE(temporary.place("pic0001.jpg"), taken ? PictureWriter::NameTaken : PictureWriter::Written);
    QCOMPARE(readFile(dir.filePath("pic0001.jpg")),
             taken ? QByteArray("from another program") : picture);
    QCOMPARE(QFileInfo::exists(dir.filePath(name)), taken);
}

// What a temporary's bytes show: a whole picture only to its end marker and nothing after,
// cut off only where every byte before the end is as the format has it.
void TestSaving::pictureContent_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("content");
    QTest::addColumn<QByteArray>("suffix");
    const QByteArray jpeg = pictureBytes();
    const QByteArray png = pictureBytes("PNG");
    const int unknown = int(PictureContent::Unknown), cut = int(PictureContent::CutOff),
              whole = int(PictureContent::Complete);
    QTest::newRow("JPEG") << jpeg << whole << QByteArray("jpg");
    QTest::newRow("JPEG without its end marker") << jpeg.chopped(2) << cut << QByteArray();
    QTest::newRow("JPEG without its last byte") << jpeg.chopped(1) << cut << QByteArray();
    QTest::newRow("JPEG inside its header") << jpeg.left(40) << cut << QByteArray();
    QTest::newRow("JPEG inside its scan") << jpeg.left(jpeg.size() * 3 / 4) << cut << QByteArray();
    QTest::newRow("JPEG start of image only") << jpeg.left(2) << cut << QByteArray();
    QTest::newRow("one byte of a JPEG") << jpeg.left(1) << cut << QByteArray();
    QTest::newRow("JPEG with bytes after its end") << jpeg + "x" << unknown << QByteArray();
    // The marker after the JFIF segment, where the EXIF block goes.
    const int second = 4 + ((uchar(jpeg.at(4)) << 8) | uchar(jpeg.at(5)));
    QTest::newRow("JPEG with a broken marker, cut") << QByteArray(jpeg).replace(second, 1, "A").chopped(2)
                                                    << unknown << QByteArray();
    QTest::newRow("PNG") << png << whole << QByteArray("png");
    QTest::newRow("PNG without IEND") << png.chopped(12) << cut << QByteArray();
    QTest::newRow("PNG inside a chunk") << png.left(png.size() / 2) << cut << QByteArray();
    QTest::newRow("PNG signature only") << png.left(8) << cut << QByteArray();
    QTest::newRow("PNG inside its signature") << png.left(5) << cut << QByteArray();
    QTest::newRow("PNG with bytes after IEND") << png + "x" << unknown << QByteArray();
    QTest::newRow("PNG with a broken chunk type") << QByteArray(png).replace(12, 1, "1").chopped(12)
                                                  << unknown << QByteArray();
    QTest::newRow("BMP") << pictureBytes("BMP") << unknown << QByteArray();
    QTest::newRow("text") << QByteArray("left") << unknown << QByteArray();
    QTest::newRow("nothing") << QByteArray() << cut << QByteArray();
}

void TestSaving::pictureContent()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, content);
    QFETCH(QByteArray, suffix);
    const char* found = nullptr;
    QCOMPARE(int(judgePictureContent(bytes, &found)), content);
    QCOMPARE(QByteArray(found), suffix);
}

// Every file holds its own picture and nothing after it, also after a larger picture.
void TestSaving::eachFileHoldsOnlyItsPicture()
{
    QTemporaryDir dir;
    QImage large(480, 320, QImage::Format_RGB16);
    QImage small(240, 160, QImage::Format_RGB16);
    paintPattern(large);
    paintPattern(small);
    const PictureInfo info{QDateTime(QDate(2026, 12, 8), QTime(12, 0)), "m", "n", "s"};
    PictureWriter kept;
    QCOMPARE(kept.write(large, dir.filePath("large.jpg"), "JPEG", 90, info), PictureWriter::Written);
    QCOMPARE(kept.write(small, dir.filePath("after.jpg"), "JPEG", 30, info), PictureWriter::Written);
    PictureWriter fresh;
    QCOMPARE(fresh.write(small, dir.filePath("fresh.jpg"), "JPEG", 30, info), PictureWriter::Written);
    const QByteArray after = readFile(dir.filePath("after.jpg"));
    QVERIFY(after.endsWith("\xff\xd9"));
    QCOMPARE(after.size(), readFile(dir.filePath("fresh.jpg")).size());
    QVERIFY(after == readFile(dir.filePath("fresh.jpg")));
}

void TestSaving::qualityReachesTheEncoder()
{
    QTemporaryDir dir;
    QImage frame(480, 320, QImage::Format_RGB16);
    paintPattern(frame);
    PictureWriter writer;
    const QString normal = dir.filePath("normal.jpg");
    const QString fine = dir.filePath("fine.jpg");
    QCOMPARE(writer.write(frame, normal, "JPEG", 30, PictureInfo()), PictureWriter::Written);
    QCOMPARE(writer.write(frame, fine, "JPEG", 90, PictureInfo()), PictureWriter::Written);
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
    const PictureInfo info{QDateTime::currentDateTime(), "m", "n", "s"};
    QCOMPARE(pictureWriter.write(original, path, "JPEG", 30, info), PictureWriter::Written);

    QBuffer reference;
    reference.open(QIODevice::WriteOnly);
    QImageWriter writer(&reference, "JPEG");
    writer.setQuality(30);
    QVERIFY(writer.write(original.convertToFormat(QImage::Format_RGB32)));
    const QByteArray written = readFile(path);
    QVERIFY(written.size() > reference.data().size());
    QVERIFY(withoutExifSegment(written) == reference.data());
}

void TestSaving::fullStorageLeavesNothing_data()
{
    QTest::addColumn<bool>("unnamedFiles");
    QTest::newRow("unnamed file") << true;
    QTest::newRow("named temporary") << false;
}

void TestSaving::fullStorageLeavesNothing()
{
    QFETCH(bool, unnamedFiles);
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
    PictureWriter writer({unnamedFiles, true, {}});
    QCOMPARE(writer.write(frame, home + "/Documents/Image_Files/pic0008.jpg", "JPEG", 90,
                          PictureInfo{QDateTime::currentDateTime(), "m", "n", "s"}),
             PictureWriter::Failed);
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
    if (situation == "home too long") {
        env.homePath = QFile::encodeName(env.dir.path() + '/' + QString(120, 'h'));
    } else if (situation == "home not UTF-8") {
        // "caf\xe9" exists; saving must not go to a look-alike "caf\ufffd" either.
        env.homePath = QFile::encodeName(env.dir.path()) + "/caf\xe9";
        QVERIFY(::mkdir(env.homePath.constData(), 0755) == 0);
        stray.path = env.homePath;
    }
    env.paths.home = env.homePath.constData();
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
    } else if (situation == "home not UTF-8") {
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
    env.homePath = QFile::encodeName(home);
    env.paths.home = env.homePath.constData();
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
    }
    {
        // The internal storage goes away under a running camera.
        const QString lost = env.dir.filePath("lost");
        TinyMount lostMount(lost, "1m");
        QVERIFY(lostMount.mounted);
        const QByteArray lostPath = QFile::encodeName(lost);
        env.paths.home = lostPath.constData();
        auto c = env.makeCamera();
        env.paths.home = env.homePath.constData();
        QVERIFY(!lcdShows(c->LCDNumber1, "Error"));
        QCOMPARE(::umount2(lostPath.constData(), MNT_DETACH), 0);
        lostMount.mounted = false;
        QVERIFY(QDir().rmdir(lost));
        c->PushButton2->click();
        QVERIFY(lcdShows(c->LCDNumber1, "Error"));
    }
    env.writeSettings("[File]\nRemain=6\n");
    auto c = env.makeCamera();
    struct statfs fs;
    QCOMPARE(::statfs(QFile::encodeName(home).constData(), &fs), 0);
    QCOMPARE(c->LCDNumber1->intValue(), int(qint64(fs.f_bfree) * fs.f_bsize / 1024));
}

// The file system table and the mount table as the kernel and mount(8) write them.
void TestSaving::homeFileSystemMissing_data()
{
    QTest::addColumn<QByteArray>("fstab");
    QTest::addColumn<QByteArray>("mounts");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<bool>("missing");
    const QByteArray rootOnly = "/dev/vda / ext4 rw,relatime 0 0\nproc /proc proc rw 0 0\n";
    const QByteArray homeMounted = rootOnly + "/dev/vdb /home ext4 rw 0 0\n";
    const QByteArray homeEntry = "UUID=1234 / ext4 defaults 0 1\nUUID=5678 /home ext4 defaults 0 2\n";
    QTest::newRow("no table") << QByteArray() << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("only the root file system") << QByteArray("/dev/vda / ext4 defaults 0 1\n")
                                               << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("home partition not mounted") << homeEntry << rootOnly << QByteArray("/home/anna") << true;
    QTest::newRow("home partition mounted") << homeEntry << homeMounted << QByteArray("/home/anna") << false;
    QTest::newRow("HOME itself its mount point")
        << QByteArray("/dev/vdb /home/anna/ xfs defaults 0 2\n") << rootOnly << QByteArray("/home/anna/") << true;
    QTest::newRow("a folder beside HOME, not above it")
        << QByteArray("/dev/vdb /home/ann ext4 defaults 0 2\n") << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("a folder below HOME")
        << QByteArray("/dev/vdb /home/anna/data ext4 noauto 0 2\n") << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("commented out") << QByteArray("# UUID=5678 /home ext4 defaults 0 2\n")
                                   << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("an installer's comment naming a path")
        << QByteArray("# /home was on /dev/vdb1 during installation\n"
                      "UUID=1234 / ext4 errors=remount-ro 0 1\n")
        << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("an indented comment") << QByteArray("\t # /home/anna lies on /dev/vdc\n")
                                         << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("swap") << QByteArray("/dev/vdc none swap sw 0 0\n") << rootOnly << QByteArray("/home/anna") << false;
    QTest::newRow("blank in the mount point, not mounted")
        << QByteArray("/dev/vdb /srv/my\\040homes ext4 defaults 0 2\n") << rootOnly
        << QByteArray("/srv/my homes/anna") << true;
    QTest::newRow("blank in the mount point, mounted")
        << QByteArray("/dev/vdb\t/srv/my\\040homes  ext4 defaults 0 2\n")
        << rootOnly + "/dev/vdb /srv/my\\040homes ext4 rw 0 0\n" << QByteArray("/srv/my homes/anna") << false;
}

void TestSaving::homeFileSystemMissing()
{
    QFETCH(QByteArray, fstab);
    QFETCH(QByteArray, mounts);
    QFETCH(QByteArray, home);
    QFETCH(bool, missing);
    QCOMPARE(::homeFileSystemMissing(fstab, mounts, home), missing);
}

// The whole window, in a mount namespace whose /etc/fstab the row writes: a HOME on the root
// file system takes pictures unless the table gives HOME, or a folder above it, a file
// system that is not mounted.
void TestSaving::homeOnRootFileSystem_data()
{
    QTest::addColumn<QByteArray>("entry"); // HOME stands for the test's HOME folder
    QTest::addColumn<bool>("saves");
    QTest::newRow("no table entry") << QByteArray("# empty\n") << true;
    QTest::newRow("the root file system only") << QByteArray("/dev/vda / ext4 defaults 0 1\n") << true;
    QTest::newRow("a folder beside HOME") << QByteArray("/dev/vdb HOME-old ext4 defaults 0 2\n") << true;
    QTest::newRow("unmounted file system at HOME") << QByteArray("/dev/vdb HOME ext4 defaults 0 2\n") << false;
    QTest::newRow("unmounted file system above HOME")
        << QByteArray("/dev/vda / ext4 defaults 0 1\nLABEL=homes HOME/.. ext4 defaults 0 2\n") << false;
}

void TestSaving::homeOnRootFileSystem()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, saves);
    if (geteuid() != 0)
        QSKIP("a mount namespace with its own /etc/fstab needs root");
    if (!QFileInfo::exists("/etc/fstab"))
        QSKIP("no /etc/fstab to mount over");
    TestEnvironment env;
    env.paths.refuseRootFileSystem = true;
    struct stat homeStat, rootStat;
    QCOMPARE(::stat(QFile::encodeName(env.home).constData(), &homeStat), 0);
    QCOMPARE(::stat("/", &rootStat), 0);
    if (homeStat.st_dev != rootStat.st_dev)
        QSKIP("the test's folders do not lie on the root file system here");

    const QString home = QFileInfo(env.home).canonicalFilePath();
    const QString parent = QFileInfo(home).path();
    QByteArray table = entry;
    table.replace("HOME/..", QFile::encodeName(parent)).replace("HOME", QFile::encodeName(home));
    const QString tablePath = env.dir.filePath("fstab");
    QFile tableFile(tablePath);
    QVERIFY(tableFile.open(QIODevice::WriteOnly));
    tableFile.write(table);
    tableFile.close();
    // The card is mounted inside the namespace, so that it is gone with the card.
    QCOMPARE(::unshare(CLONE_NEWNS), 0);
    QCOMPARE(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    QCOMPARE(::mount(QFile::encodeName(tablePath).constData(), "/etc/fstab", nullptr, MS_BIND, nullptr), 0);
    struct Unmount {
        ~Unmount() { ::umount2("/etc/fstab", MNT_DETACH); }
    } unmount;
    START_CARD(card, env);

    Camera c(nullptr, nullptr, Qt::WindowFlags(), env.paths);
    c.show();
    if (saves) {
        QCOMPARE(c.LCDNumber1->intValue(), picturesFitting(home, 15));
        QVERIFY(c.LCDNumber1->intValue() > 0);
        qInfo("counter with HOME on the root file system: %d", c.LCDNumber1->intValue());
    } else {
        QVERIFY(lcdShows(c.LCDNumber1, "Error"));
    }
    BoxAnswerer boxes(20);
    QTRY_VERIFY(card.logLines().contains("read 153600 153600"));
    c.ButtonShutter();
    const QString picture = home + "/Documents/Image_Files/pic0001.jpg";
    if (saves) {
        QTRY_VERIFY(QFileInfo(picture).size() > 0);
        QTest::qWait(200);
        QCOMPARE(boxes.text, QString());
    } else {
        QTRY_COMPARE(boxes.text, QString("Save failed!\nPlease check storage status."));
        QVERIFY(!QFileInfo::exists(picture));
    }
    c.close();
}

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
