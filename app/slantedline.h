#pragma once

#include <QPoint>
#include <QWidget>

namespace velo
{

// A straight line between two points of its parent, drawn in the default pen. It covers
// the line's bounding box and lets clicks through.
class SlantedLine : public QWidget
{
public:
    SlantedLine(QPoint from, QPoint to, QWidget* parent);
    QPoint from() const { return from_; }
    QPoint to() const { return to_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint from_;
    QPoint to_;
};

} // namespace velo
