#pragma once
// The simulated panel's memory in a folder of the test's own, so that test runs side by
// side never share a panel. Made before the application opens the frame buffer.
#include <QFile>
#include <QTemporaryDir>

class PanelMemory {
public:
    PanelMemory()
    {
        if (qEnvironmentVariableIsEmpty("FB_SHIM_MEMORY"))
            qputenv("FB_SHIM_MEMORY", QFile::encodeName(dir.filePath(QStringLiteral("panel.mem"))));
    }

private:
    QTemporaryDir dir;
};
