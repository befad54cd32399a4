#include "app/passcounterlabel.h"

#include <QPainter>

namespace velo
{

namespace
{
constexpr int kScreenFrameMs = 16;
}

PassCounterLabel::PassCounterLabel(QWidget* parent) : QWidget(parent)
{
    lateRepaint_.setSingleShot(true);
    lateRepaint_.setTimerType(Qt::PreciseTimer);
    connect(&lateRepaint_, &QTimer::timeout, this, [this] {
        sinceRepaint_.restart();
        update();
    });
}

void PassCounterLabel::setPassNumber(quint64 passNumber)
{
    passNumber_ = passNumber;
    showsNumber_ = true;
    scheduleRepaint();
}

void PassCounterLabel::setText(const QString& text)
{
    text_ = text;
    showsNumber_ = false;
    scheduleRepaint();
}

QString PassCounterLabel::text() const
{
    return showsNumber_ ? QString::number(passNumber_) : text_;
}

void PassCounterLabel::scheduleRepaint()
{
    // One repaint now if a frame has passed since the last; otherwise one at the end of
    // the frame, which shows whatever number is latest by then. Never two in one frame.
    if (lateRepaint_.isActive())
        return;
    const qint64 sinceMs = sinceRepaint_.isValid() ? sinceRepaint_.elapsed() : kScreenFrameMs;
    if (sinceMs >= kScreenFrameMs) {
        sinceRepaint_.restart();
        update();
    } else {
        lateRepaint_.start(int(kScreenFrameMs - sinceMs));
    }
}

void PassCounterLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace velo
