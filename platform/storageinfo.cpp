#include "platform/storageinfo.h"

#include <QCoreApplication>

QString StorageInfo::getDefaultStorageName(int index, bool shortName)
{
    switch (index) {
    case 0:
        return shortName ? QCoreApplication::translate("StorageInfo", "Internal")
                         : QCoreApplication::translate("StorageInfo", "Internal Storage");
    case 1:
        return shortName ? QCoreApplication::translate("StorageInfo", "Card")
                         : QCoreApplication::translate("StorageInfo", "Memory Card");
    default:
        return QString();
    }
}
