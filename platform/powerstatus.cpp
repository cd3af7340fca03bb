#include "platform/powerstatus.h"

#include <QDir>
#include <QFile>
#include <QString>

namespace {

// One short sysfs attribute, trimmed; empty when missing or unreadable.
QString readAttribute(const QString& folder, const char* name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.read(64)).trimmed();
}

} // namespace

PowerStatus PowerStatusManager::readStatus()
{
    QString root = qEnvironmentVariable("PDA_POWER_SUPPLY_DIR");
    if (root.isEmpty())
        root = QStringLiteral("/sys/class/power_supply");

    PowerStatus status;
    bool externalOnline = false;
    bool batteryFound = false;
    const QDir dir(root);
    // Sorted, so that with several batteries the first (BAT0) is the one reported.
    const QStringList supplies = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& supply : supplies) {
        const QString folder = dir.filePath(supply);
        const QString type = readAttribute(folder, "type");
        // A desktop's USB charger (or a laptop's USB-C supply) is external power as well.
        if (type == QLatin1String("Mains") || type == QLatin1String("USB")) {
            if (readAttribute(folder, "online") == QLatin1String("1"))
                externalOnline = true;
        } else if (type == QLatin1String("Battery") && !batteryFound) {
            batteryFound = true;
            bool ok = false;
            int capacity = readAttribute(folder, "capacity").toInt(&ok);
            if (!ok)
                capacity = -1;
            else
                capacity = qBound(0, capacity, 100);
            const QString state = readAttribute(folder, "status");
            status.batteryPercent = capacity;
            int flags = 0;
            if (capacity > goodCapacityPercent || state == QLatin1String("Full"))
                flags |= PowerStatus::Good;
            else
                flags |= PowerStatus::Low;
            if (state == QLatin1String("Charging"))
                flags |= PowerStatus::Charging;
            status.batteryStatus = flags;
        }
    }
    // Without a battery the machine can only be running on external power.
    status.acStatus = (externalOnline || !batteryFound) ? PowerStatus::Online : PowerStatus::Offline;
    return status;
}
