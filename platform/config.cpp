#include "platform/config.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Settings files are a few hundred bytes; anything far larger is not ours.
constexpr qint64 maxFileSize = 1 << 20;

// A line we could not write back unchanged is refused: CR, LF and other control characters
// would split or corrupt the file.
bool isPlainText(const QString& s)
{
    for (QChar c : s) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            return false;
        if (c.unicode() == 0x7f || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

bool isValidKey(const QString& key)
{
    return !key.isEmpty() && key == key.trimmed() && isPlainText(key)
        && !key.contains(QLatin1Char('=')) && !key.startsWith(QLatin1Char('['));
}

// A group name must read back as written: the reader trims what stands between the brackets.
bool isValidGroup(const QString& group)
{
    return isPlainText(group) && group == group.trimmed() && !group.contains(QLatin1Char(']'));
}

} // namespace

QString Config::filePath(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..")
        || name == QLatin1String("."))
        return QString();
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return QString();
        base = home + QLatin1String("/.config");
    }
    return base + QLatin1Char('/') + name + QLatin1String(".conf");
}

Config::Config(const QString& name, int /*domain*/)
    : path(filePath(name))
{
    if (path.isEmpty())
        return;
    QFile file(path);
    // Only a regular file: a pipe or device in its place would block or never end.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(maxFileSize);
    QString current;  // keys before any [group] line live in the unnamed group
    const QList<QByteArray> lines = bytes.split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || !isPlainText(line))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2).trimmed();
            if (!groups.contains(current)) {
                groupOrder.append(current);
                groups.insert(current, {});
            }
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (!isValidKey(key))
            continue;
        if (!groups.contains(current)) {
            groupOrder.append(current);
            groups.insert(current, {});
        }
        auto& entries = groups[current];
        bool replaced = false;
        for (auto& entry : entries) {
            if (entry.first == key) {
                entry.second = value;  // the later line wins, as a reader would expect
                replaced = true;
                break;
            }
        }
        if (!replaced)
            entries.append({key, value});
    }
}

Config::~Config()
{
    if (dirty)
        write();
}

void Config::setGroup(const QString& g)
{
    group = g;
}

QString Config::readEntry(const QString& key, const QString& deflt) const
{
    const auto it = groups.constFind(group);
    if (it == groups.constEnd())
        return deflt;
    for (const auto& entry : *it) {
        if (entry.first == key)
            return entry.second;
    }
    return deflt;
}

int Config::readNumEntry(const QString& key, int deflt) const
{
    const QString text = readEntry(key, QString()).trimmed();
    if (text.isEmpty())
        return deflt;
    // Decimal only, ASCII digits with an optional sign: "0x10", "1e3" and "12abc" are not numbers.
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool sign = i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-'));
        if (!sign && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return deflt;
    }
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : deflt;
}

bool Config::hasKey(const QString& key) const
{
    const auto it = groups.constFind(group);
    if (it == groups.constEnd())
        return false;
    for (const auto& entry : *it) {
        if (entry.first == key)
            return true;
    }
    return false;
}

void Config::writeEntry(const QString& key, int value)
{
    writeEntry(key, QString::number(value));
}

void Config::writeEntry(const QString& key, const QString& value)
{
    // Leading and trailing blanks would not survive a read, line breaks would inject lines.
    if (!isValidKey(key) || !isValidGroup(group) || !isPlainText(value))
        return;
    if (!groups.contains(group)) {
        groupOrder.append(group);
        groups.insert(group, {});
    }
    auto& entries = groups[group];
    dirty = true;
    for (auto& entry : entries) {
        if (entry.first == key) {
            entry.second = value.trimmed();
            return;
        }
    }
    entries.append({key, value.trimmed()});
}

bool Config::write() const
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;

    QByteArray out;
    bool first = true;
    for (const QString& name : groupOrder) {
        const auto& entries = groups.value(name);
        if (name.isEmpty() && entries.isEmpty())
            continue;
        if (!name.isEmpty() || !first) {
            if (!first)
                out += '\n';
            out += '[' + name.toUtf8() + "]\n";
        }
        for (const auto& entry : entries)
            out += entry.first.toUtf8() + '=' + entry.second.toUtf8() + '\n';
        first = false;
    }

    // The new text goes to a temporary file in the same folder and replaces the old file
    // only when complete, so a crash or a full disk leaves the previous settings in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Only the user reads or changes their settings, also where an older file was open to all.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The text is buffered: only the flush shows whether the disk took it, and commit()
    // does not report a failing one.
    if (file.write(out) != out.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
