#include "unit_list.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <cmath>

bool UnitList::event(QEvent* event) {
    const bool handled = QListWidget::event(event);
    if (event->type() == QEvent::Paint && frameShape() != QFrame::NoFrame) RedrawCutBorder();
    return handled;
}

void UnitList::RedrawCutBorder() {
    const qreal scale = devicePixelRatioF();
    const QPointF origin = QPointF(mapTo(window(), QPoint(0, 0))) * scale;
    const qreal dx = (std::ceil(origin.x()) - origin.x()) / scale;
    const qreal dy = (std::ceil(origin.y()) - origin.y()) / scale;
    if (dx == 0 && dy == 0) return;
    QPainter painter(this);
    painter.translate(dx, dy);
    QStyleOptionFrame frame;
    initStyleOption(&frame);
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
}
