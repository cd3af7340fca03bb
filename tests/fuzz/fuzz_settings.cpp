// Fuzzes the settings file: whatever OrvaneCamera.conf holds, the settings rules leave every
// value the window relies on in its range, Config's reads, writes and the file it writes
// back agree with each other, and every line of a key it did not write survives the write,
// in its order, byte for byte.
#include "platform/config.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

QTemporaryDir tempDir;  // removed at exit
QString settingsPath;

[[noreturn]] void fail(const char* what, long value)
{
    std::fprintf(stderr, "fuzz_settings: %s (%ld)\n", what, value);
    std::abort();
}

void check(bool ok, const char* what, long value = 0)
{
    if (!ok)
        fail(what, value);
}

void writeFile(const uint8_t* data, size_t size)
{
    QFile file(settingsPath);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the settings file");
    check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
          "short write of the settings file");
}

bool terminatedWithin(const char* buffer, size_t size)
{
    return std::memchr(buffer, 0, size) != nullptr;
}

// The settings with a canary right after the last name buffer: a write past it lands there.
struct Guarded {
    CameraSettings values;
    int32_t canary;
};

void checkSettings(const Guarded& g)
{
    const CameraSettings& c = g.values;
    check(c.slowCapture >= 0 && c.slowCapture <= 15, "slowCapture", c.slowCapture);
    check(c.dispModeMax >= 1 && c.dispModeMax <= 3, "dispModeMax", c.dispModeMax);
    check(c.dispMode >= 0 && c.dispMode < c.dispModeMax, "dispMode", c.dispMode);
    check(c.resolutionMax >= 1 && c.resolutionMax <= 13, "resolutionMax", c.resolutionMax);
    check(c.resolution >= 0 && c.resolution < c.resolutionMax, "resolution", c.resolution);
    check(c.quality == 0 || c.quality == 1, "quality", c.quality);
    check(c.qualityNormal >= 0 && c.qualityNormal <= 100, "qualityNormal", c.qualityNormal);
    check(c.qualityFine >= 0 && c.qualityFine <= 100, "qualityFine", c.qualityFine);
    check(c.saveTo == 0 || c.saveTo == 1, "saveTo", c.saveTo);
    check(c.saveWait >= 0, "saveWait", c.saveWait);
    check(terminatedWithin(c.namePrefix, sizeof c.namePrefix), "namePrefix not terminated");
    check(terminatedWithin(c.nameSuffix, sizeof c.nameSuffix), "nameSuffix not terminated");
    check(terminatedWithin(c.saveFormat, sizeof c.saveFormat), "saveFormat not terminated");
    check(g.canary == -1, "canary after the name buffers overwritten", g.canary);
}

// The number a decimal text stands for, independently of Config: optional sign, ASCII digits,
// within int.
bool decimal(const QString& text, int& value)
{
    const QByteArray t = text.trimmed().toLatin1();
    if (t.isEmpty() || t.size() != text.trimmed().size())
        return false;
    for (int i = 0; i < t.size(); ++i) {
        const char ch = t[i];
        if (!(ch >= '0' && ch <= '9') && !(i == 0 && (ch == '+' || ch == '-')))
            return false;
    }
    if (t == "+" || t == "-")
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.constData(), &end, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    value = int(v);
    return true;
}

const QString sentinel = QStringLiteral("\x01missing\x01");

struct Operation {
    QString group;
    QString key;
    QString value;
};

// The raw pieces of the file's lines: a "[...]" line names the group (untrimmed) of the
// lines after it, any other line is a key and a value split at the first '='.
QList<Operation> operationsOf(const uint8_t* data, size_t size)
{
    QList<Operation> ops;
    QString group;
    const QList<QByteArray> lines =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)).split('\n');
    for (const QByteArray& raw : lines) {
        if (ops.size() >= 64)
            break;
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            ops.append({group, line, QString()});
        else
            ops.append({group, line.left(eq), line.mid(eq + 1)});
    }
    return ops;
}

void checkReads(const Config& config, const QString& key)
{
    const QString text = config.readEntry(key, sentinel);
    check(config.hasKey(key) == (text != sentinel), "hasKey disagrees with readEntry");
    const int a = config.readNumEntry(key, 7);
    const int b = config.readNumEntry(key, -9);
    int expected = 0;
    if (text != sentinel && decimal(text, expected)) {
        check(a == expected && b == expected, "readNumEntry of a decimal", a);
    } else {
        check(a == 7 && b == -9, "readNumEntry of a non-number is not the default", a);
    }
}

// The key a line would hold, read as the file's reader is documented to read it: UTF-8 where
// valid, else Latin-1, without a byte-order mark, trimmed.
QString keyOfLine(QByteArray raw)
{
    if (raw.startsWith("\xEF\xBB\xBF"))
        raw.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString line = utf8.decode(raw);
    if (utf8.hasError())
        line = QString::fromLatin1(raw);
    const int eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.left(eq).trimmed();
}

// Every line of the old file that holds no key written (comments, headers, junk, other keys)
// appears in the new file in the same order.
void checkUnwrittenLinesKept(const QByteArray& before, const QSet<QString>& writtenKeys)
{
    QFile file(settingsPath);
    if (!file.open(QIODevice::ReadOnly)) {
        check(writtenKeys.isEmpty(), "the settings file is gone");
        return;
    }
    const QList<QByteArray> after = file.readAll().split('\n');
    qsizetype next = 0;
    const QList<QByteArray> lines = before.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (i == lines.size() - 1 && line.isEmpty())
            break;  // after the last line break: nothing of the user's
        const QString key = keyOfLine(line);
        if (!key.isEmpty() && writtenKeys.contains(key))
            continue;
        while (next < after.size() && after.at(next) != line)
            ++next;
        if (next == after.size()) {
            std::fprintf(stderr, "line %ld \"%s\" lost or moved\n", long(i), line.constData());
            fail("a line the application did not write was changed", long(i));
        }
        ++next;
    }
}

void fuzzConfig(const uint8_t* data, size_t size)
{
    const QList<Operation> ops = operationsOf(data, size);
    QMap<QPair<QString, QString>, QString> expected;
    QSet<QString> writtenKeys;
    {
        Config config(QStringLiteral("OrvaneCamera"), Config::User);
        for (qsizetype i = 0; i < ops.size(); ++i) {
            const Operation& op = ops.at(i);
            config.setGroup(op.group);
            checkReads(config, op.key);
            checkReads(config, op.key.trimmed());
            const QString before = config.readEntry(op.key, sentinel);
            // Every other line is left alone: its bytes must come through the write unchanged.
            if (i % 2 == 1)
                continue;
            writtenKeys.insert(op.key);
            config.writeEntry(op.key, op.value);
            const QString after = config.readEntry(op.key, sentinel);
            check(after == before || after == op.value.trimmed(),
                  "writeEntry stored something else than the value");
            checkReads(config, op.key);
            expected[{op.group, op.key}] = after;
        }
        // Written back here when something was written.
    }
    checkUnwrittenLinesKept(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)),
                            writtenKeys);
    Config again(QStringLiteral("OrvaneCamera"), Config::User);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        again.setGroup(it.key().first);
        if (again.readEntry(it.key().second, sentinel) != it.value()) {
            std::fprintf(stderr, "group \"%s\" key \"%s\": \"%s\" read back as \"%s\"\n",
                         qPrintable(it.key().first), qPrintable(it.key().second),
                         qPrintable(it.value()),
                         qPrintable(again.readEntry(it.key().second, sentinel)));
            fail("an entry did not survive the write and the reread", 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    check(tempDir.isValid(), "no temporary folder");
    const QString home = QDir(tempDir.path()).filePath(QStringLiteral("home"));
    const QString config = QDir(tempDir.path()).filePath(QStringLiteral("config"));
    QDir().mkpath(home);
    QDir().mkpath(config);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    settingsPath = QDir(config).filePath(QStringLiteral("OrvaneCamera.conf"));

    // Qt gets its own argument list: it would take its options out of libFuzzer's.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QCoreApplication(qtArgc, qtArgv); // lives until exit, never destroyed
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeFile(data, size);
    {
        Config config(cameraSettingsName(), Config::User);
        // Initialised in place: the rule writes straight into the guarded struct.
        const Guarded guarded{readCameraSettings(config, QStringLiteral("pic")), -1};
        checkSettings(guarded);
    }
    fuzzConfig(data, size);
    return 0;
}
