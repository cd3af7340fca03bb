#include "platform/storageinfo.h"

#include <QCoreApplication>

QString StorageInfo::getDefaultStorageName(int index, bool shortName)
{
    switch (index) {
    case 0:
        // One name for both: "Internal Storage" is wider than the 80-pixel storage button
        // in the handheld's small font.
        return QCoreApplication::translate("StorageInfo", "Internal");
    case 1:
        return shortName ? QCoreApplication::translate("StorageInfo", "Card")
                         : QCoreApplication::translate("StorageInfo", "Memory Card");
    default:
        return QString();
    }
}
