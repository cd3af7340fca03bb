#pragma once
#include <QString>

class StorageInfo {
public:
    // User-visible name of storage 0 (internal storage) or 1 (memory card).
    static QString getDefaultStorageName(int index, bool shortName = false);
};
