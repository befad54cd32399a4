#include "ui/look.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QWidget>

namespace velo::look
{

int twipsToPixels(int twips)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return qRound(twips * dpi / 1440.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

QFont windowFont(Face face, double points, bool bold)
{
    QFont font;
    if (face == Face::PGothic)
        font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                          QStringLiteral("IPAPGothic")});
    else
        font.setFamilies({QStringLiteral("ＭＳ Ｐ明朝"), QStringLiteral("MS PMincho"),
                          QStringLiteral("IPAPMincho")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QIcon appIcon()
{
    // A blue sphere on a lavender diamond, crossed by two horizontal black lines.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath diamond;
    diamond.moveTo(16, 0);
    diamond.lineTo(31, 16);
    diamond.lineTo(16, 31);
    diamond.lineTo(1, 16);
    diamond.closeSubpath();
    p.fillPath(diamond, QColor(200, 180, 240));
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(2, 11, 30, 11);
    p.drawLine(2, 21, 30, 21);
    QRadialGradient shine(13, 13, 10);
    shine.setColorAt(0, QColor(170, 200, 255));
    shine.setColorAt(1, QColor(0, 40, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QPointF(16, 16), 8, 8);
    p.end();
    return QIcon(pixmap);
}

void paintWindowBackground(QWidget* window)
{
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, kWindowBackground);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

void paintButtonFace(QPushButton* button)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, kButtonFace);
    button->setPalette(palette);
    // The program runs with the Fusion style, which paints buttons in this colour.
}

} // namespace velo::look
