#pragma once
// The emulator's two files as tests use them: a control command written in one write(),
// and the log read as lines.
#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

namespace cardfiles {

inline bool writeControl(const QByteArray& controlPath, const QByteArray& command)
{
    const int fd = ::open(controlPath.constData(), O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, command.constData(), size_t(command.size())) == command.size();
    ::close(fd);
    return ok;
}

inline QStringList logLines(const QString& logPath)
{
    QFile f(logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace cardfiles
