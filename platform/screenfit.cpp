#include "platform/screenfit.h"

#include <algorithm>

qreal pda::fitScale(const QSize& available, const QSize& base)
{
    if (base.isEmpty() || available.isEmpty())
        return 1;
    const qreal across = qreal(available.width()) / base.width();
    const qreal down = qreal(available.height()) / base.height();
    return std::max<qreal>(1, std::min(across, down));
}
