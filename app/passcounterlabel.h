#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace velo
{

// A label for the scan's pass counter. It takes a new number every pass, millions of
// times a second, but repaints at most at screen rate: a repaint per pass would cost
// far more than reading the sector. text() always gives the latest number.
class PassCounterLabel : public QWidget
{
    Q_OBJECT
public:
    explicit PassCounterLabel(QWidget* parent = nullptr);

    void setPassNumber(quint64 passNumber);
    void setText(const QString& text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void scheduleRepaint();

    QString text_;
    quint64 passNumber_ = 0;
    bool showsNumber_ = false; // the text is passNumber_ in decimal, made when needed
    QElapsedTimer sinceRepaint_;
    QTimer lateRepaint_;
};

} // namespace velo
