#include "app/camera.h"
#include "platform/qpeapplication.h"

int main(int argc, char** argv)
{
    QPEApplication app(argc, argv, 1);
    if (!app.claimSingleInstance())
        return 0;  // the running camera was raised instead
    int result;
    {
        Camera window(nullptr, nullptr, {});
        QPEApplication::setInputMethodHint(&window, 1);
        app.showMainWidget(&window, false);
        result = app.exec();
    }
    return result;
}
