#include "app/slantedline.h"

#include <QPainter>

#include <algorithm>

namespace velo
{

SlantedLine::SlantedLine(QPoint from, QPoint to, QWidget* parent)
    : QWidget(parent), from_(from), to_(to)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // The box holds both end points' pixels. (QRect(from, to).normalized() would not: for
    // points given bottom-left to top-right it leaves out the top row and right column.)
    setGeometry(QRect(QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())),
                      QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y()))));
}

void SlantedLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(from_ - pos(), to_ - pos());
}

} // namespace velo
