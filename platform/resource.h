#pragma once
#include <QPixmap>
#include <QString>

class Resource {
public:
    // The environment's icon of that name; a null pixmap for a name it does not have.
    static QPixmap loadPixmap(const QString& name);
};
