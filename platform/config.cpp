#include "platform/config.h"

#include "platform/uniquefd.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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

// Valid UTF-8 is read as such; anything else is taken for Latin-1, as older tools wrote it.
// A byte-order mark is not part of the text.
QString decodeLine(QByteArray raw)
{
    if (raw.startsWith("\xEF\xBB\xBF"))
        raw.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(raw);
    return utf8.hasError() ? QString::fromLatin1(raw) : text;
}

// The line of a key with a new value: what stands before the value (key, '=', blanks) and a
// carriage return ending the line stay as the user wrote them.
QByteArray replacedLine(const QByteArray& line, const QByteArray& value)
{
    qsizetype start = line.indexOf('=') + 1;
    while (start < line.size() && (line.at(start) == ' ' || line.at(start) == '\t'))
        ++start;
    QByteArray out = line.left(start) + value;
    if (line.endsWith('\r'))
        out += '\r';
    return out;
}

// The rename that put the new file in place is on the medium only once its folder is synced.
// A file system that cannot sync a folder (EINVAL) has nothing more to do.
bool syncFolder(const QString& folder)
{
    const UniqueFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    return ::fsync(fd.get()) == 0 || errno == EINVAL;
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
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        lines.append(QByteArray());  // a new, empty file
        return;
    }
    // Only a regular file: a pipe or device in its place would block or never end. Whatever
    // cannot be read whole is refused, and then never written over.
    refused = true;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() > maxFileSize || file.error() != QFileDevice::NoError)
        return;
    refused = false;
    lines = bytes.split('\n');

    QString current;  // keys before any [group] line live in the unnamed group
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = decodeLine(lines.at(i)).trimmed();
        if (line.isEmpty() || !isPlainText(line))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2).trimmed();
            if (!groups.contains(current))
                groupOrder.append(current);
            Group& g = groups[current];
            if (g.entries.isEmpty())
                g.anchor = i;
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!isValidKey(key))
            continue;
        if (!groups.contains(current))
            groupOrder.append(current);
        Group& g = groups[current];
        g.anchor = i;
        Entry* entry = nullptr;
        for (Entry& e : g.entries) {
            if (e.key == key)
                entry = &e;
        }
        if (!entry) {
            g.entries.append({key, QString(), -1, false});
            entry = &g.entries.last();
        }
        // The later line wins, as a reader would expect, and is the one a write replaces.
        entry->value = line.mid(eq + 1).trimmed();
        entry->line = i;
    }
}

Config::~Config()
{
    if (dirty && !refused)
        write();
}

void Config::setGroup(const QString& g)
{
    group = g;
}

const Config::Entry* Config::find(const QString& key) const
{
    const auto it = groups.constFind(group);
    if (it == groups.constEnd())
        return nullptr;
    for (const Entry& entry : it->entries) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

Config::Entry* Config::find(const QString& key)
{
    return const_cast<Entry*>(std::as_const(*this).find(key));
}

QString Config::readEntry(const QString& key, const QString& deflt) const
{
    const Entry* entry = find(key);
    return entry ? entry->value : deflt;
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
    return find(key) != nullptr;
}

void Config::writeEntry(const QString& key, int value)
{
    writeEntry(key, QString::number(value));
}

void Config::writeEntry(const QString& key, const QString& value)
{
    // Leading and trailing blanks would not survive a read, line breaks would inject lines.
    if (refused || !isValidKey(key) || !isValidGroup(group) || !isPlainText(value))
        return;
    if (!groups.contains(group))
        groupOrder.append(group);
    Entry* entry = find(key);
    if (!entry) {
        groups[group].entries.append({key, QString(), -1, false});
        entry = &groups[group].entries.last();
    }
    entry->value = value.trimmed();
    entry->written = true;
    dirty = true;
}

// The file as read, with the written keys' lines replaced and new keys added: after the last
// entry of their group, or in a new group at the end.
QByteArray Config::text() const
{
    QMap<int, QByteArray> replaced;
    QMap<int, QList<QByteArray>> inserted;
    QList<QByteArray> front;  // unnamed group the file lacks: it can only stand first
    QList<QByteArray> tail;
    for (const QString& name : groupOrder) {
        const Group& g = groups.value(name);
        bool headed = false;
        for (const Entry& entry : g.entries) {
            if (!entry.written)
                continue;
            const QByteArray value = entry.value.toUtf8();
            if (entry.line >= 0) {
                replaced.insert(entry.line, replacedLine(lines.at(entry.line), value));
                continue;
            }
            const QByteArray line = entry.key.toUtf8() + '=' + value;
            if (g.anchor >= 0) {
                inserted[g.anchor].append(line);
            } else if (name.isEmpty()) {
                front.append(line);
            } else {
                if (!headed) {
                    if (!tail.isEmpty())
                        tail.append(QByteArray());
                    tail.append('[' + name.toUtf8() + ']');
                }
                headed = true;
                tail.append(line);
            }
        }
    }

    QList<QByteArray> out = front;
    for (int i = 0; i < lines.size(); ++i) {
        out.append(replaced.value(i, lines.at(i)));
        out.append(inserted.value(i));
    }
    if (!tail.isEmpty()) {
        // The new group ends with a line break; a blank line sets it apart from the rest.
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out.append(QByteArray());
        out.append(tail);
        out.append(QByteArray());
    }
    return out.join('\n');
}

bool Config::write() const
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;

    const QByteArray out = text();

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
    return file.commit() && syncFolder(info.absolutePath());
}
