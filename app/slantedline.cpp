#include "app/slantedline.h"

#include <QPainter>

namespace velo
{

SlantedLine::SlantedLine(QPoint from, QPoint to, QWidget* parent)
    : QWidget(parent), from_(from), to_(to)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(QRect(from, to).normalized().adjusted(0, 0, 1, 1));
}

void SlantedLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(from_ - pos(), to_ - pos());
}

} // namespace velo
