#include "platform/resource.h"

#include <QImageReader>

namespace {

struct Icon {
    const char* name;
    const char* file;
};

// Lookup names as the application asks for them; the files are drawn as SVG.
constexpr Icon icons[] = {
    {"Camera", ":/pda/icons/camera.svg"},
    {"fullscreen", ":/pda/icons/fullscreen.svg"},
    {"camera/CameraN.png", ":/pda/icons/camera-normal.svg"},
    {"camera/CameraR.png", ":/pda/icons/camera-mirror.svg"},
    {"up", ":/pda/icons/up.svg"},
    {"back", ":/pda/icons/back.svg"},
};

} // namespace

QPixmap Resource::loadPixmap(const QString& name)
{
    for (const Icon& icon : icons) {
        if (name == QLatin1String(icon.name)) {
            // Rendered by the SVG image plugin at the drawing's own size (24x24).
            QImageReader reader(QString::fromLatin1(icon.file), "svg");
            return QPixmap::fromImage(reader.read());
        }
    }
    return QPixmap();
}
