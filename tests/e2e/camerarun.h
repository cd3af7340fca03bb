#pragma once
// One run of the camera for the end-to-end suites: whether they can run here, a virtual
// PDA with the preview under way, and what the run leaves (pictures, settings, user ids).
#include "e2e/cardlog.h"

#include <QDirIterator>
#include <QMap>
#include <QSettings>

namespace e2e {

// Empty when the suite can run here, else why not.
inline QString cannotRun()
{
    QString reason = unavailableReason();
    if (reason.isEmpty())
        reason = outsideVirtualPda();
    testaccount::Account account;
    if (reason.isEmpty() && !testaccount::lookUp(account))
        reason = QStringLiteral("no account orvane-test to run the camera as (the test_account fixture makes it)");
    return reason;
}

// A virtual PDA with the emulator running and the camera's preview under way.
inline bool startPreview(VirtualPda& pda, const QByteArray& settings = {}, int frames = 3)
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

inline QStringList picturesUnder(const QString& root)
{
    QStringList found;
    QDirIterator it(root, {"*.jpg"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// The real, effective, saved and file-system user ids of a running process, from /proc.
inline QList<uint> processUids(qint64 pid)
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

inline QMap<QString, QString> settingsValues(const QString& path)
{
    QSettings s(path, QSettings::IniFormat);
    QMap<QString, QString> values;
    for (const QString& key : s.allKeys())
        values[key] = s.value(key).toString();
    return values;
}

inline QMap<QString, QString> defaultSettingsAtExit(int serial)
{
    return {{"Option/SlowCapture", "12"},
            {"File/Serial", QString::number(serial)},
            {"File/Remain", "4"},
            {"File/SaveWait", "1000"}};
}

}  // namespace e2e
