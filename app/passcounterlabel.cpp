#include "app/passcounterlabel.h"

#include <QPainter>

namespace velo {

namespace {
constexpr int kScreenFrameMs = 16;
}

PassCounterLabel::PassCounterLabel(QWidget* parent) : QWidget(parent)
{
    lateRepaint_.setSingleShot(true);
    lateRepaint_.setInterval(kScreenFrameMs);
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
    // the frame, so the last number is always shown.
    if (!sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= kScreenFrameMs) {
        sinceRepaint_.restart();
        update();
    } else if (!lateRepaint_.isActive()) {
        lateRepaint_.start();
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
