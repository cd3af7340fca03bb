#pragma once
// Reading the card's operation log: the lines of the wire protocol the end-to-end and
// fault suites look for, where a line is, how many frames were read, and waiting for them.
#include "e2e/virtualpda.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace e2e {

inline const QString statusRead = QStringLiteral("read 4 4");
inline const QString previewRead = QStringLiteral("read 153600 153600");   // 240 x 320 x 2
inline const QString captureRead = QStringLiteral("read 307200 307200");   // 480 x 320 x 2
inline const QString directGeometry = QStringLiteral("write S=160,240,256,640");
inline const QString painterGeometry = QStringLiteral("write R=240,160,256,480");
inline const QString captureGeometry = QStringLiteral("write R=480,320,256,960");

// The wire traffic of one preview frame with capture mode `mode` (bit 0 set).
inline QStringList frameBlock(int mode, bool clear)
{
    QStringList block{QStringLiteral("write M=%1").arg(mode & ~1), previewRead,
                      QStringLiteral("write M=%1").arg(mode)};
    if (clear)
        block << QStringLiteral("write C");
    return block;
}

inline bool isFrameRead(const QString& line)
{
    static const QRegularExpression re(QStringLiteral("^read (\\d+) (\\d+|EIO)$"));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() && m.captured(1) != QLatin1String("4");
}

inline int count(const QStringList& lines, int from, const QString& text)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += lines[i] == text;
    return n;
}

inline int countMatching(const QStringList& lines, int from, const QRegularExpression& re)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += re.match(lines[i]).hasMatch();
    return n;
}

inline int indexFrom(const QStringList& lines, int from, const QString& text)
{
    return int(lines.indexOf(text, qMax(0, from)));
}

inline int framesFrom(const QStringList& lines, int from)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += isFrameRead(lines[i]);
    return n;
}

// Waits for `n` frame reads after line `from`.
inline bool waitForFrames(const VirtualPda& pda, int from, int n, int ms = 5000)
{
    return waitFor([&] { return framesFrom(pda.log(), from) >= n; }, ms);
}

inline bool waitForLine(const VirtualPda& pda, int from, const QString& text, int ms = 5000)
{
    return waitFor([&] { return indexFrom(pda.log(), from, text) >= 0; }, ms);
}

inline QString context(const QStringList& lines, int at)
{
    const int from = qMax(0, at - 4);
    return QStringLiteral("at line %1:\n  %2").arg(at).arg(lines.mid(from, 9).join("\n  "));
}

// From `at`: the geometry command, then frame blocks with exactly one status read between
// them, up to the end (a last block may be cut short by the end of the log). Empty when
// it holds with at least `minFrames` whole blocks, else what went wrong.
inline QString checkPreview(const QStringList& lines, int at, const QString& geometry, int mode,
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

inline QStringList withoutControl(QStringList lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString& l) { return l.startsWith("control "); }),
                lines.end());
    return lines;
}


}  // namespace e2e
