#include "app/camera.h"
#include "platform/qpeapplication.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Only the card's node needs a right, and its group gives that; root would put a GUI
    // program with every right on the user's display.
    if (geteuid() == 0)
        std::fputs("camera: running as root is not needed\n", stderr);
    QPEApplication app(argc, argv, 1);
    int result;
    {
        Camera window(nullptr, nullptr, {});
        QPEApplication::setInputMethodHint(&window, 1);
        app.showMainWidget(&window, false);
        result = app.exec();
    }
    return result;
}
