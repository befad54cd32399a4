#include "ui/look.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

namespace velo::look
{

namespace
{

// Buttons drawn the classic way: a flat face in the button colour inside a two-pixel
// bevel, raised when up and sunken when pressed, with the caption moved one pixel down
// and right while pressed. A disabled caption is grey with a white shadow, so that it
// reads on the lavender face yet is plainly unavailable. The button that has the focus
// shows it as Windows does, by a dotted rectangle inside the face. Everything else
// (captions, fonts) is Fusion's, whatever style the application runs with.
class FlatButtonStyle : public QProxyStyle
{
public:
    FlatButtonStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_PanelButtonCommand) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // The rings' outer edge is the rect's last row and column (right() is W - 1).
        const QRect r = option->rect;
        const bool sunken = option->state & (State_Sunken | State_On);
        painter->save();
        painter->fillRect(option->rect, kButtonFace);
        // Outer then inner ring: light above and left, dark below and right; the other
        // way round when pressed.
        const QColor light = Qt::white, shadow(128, 128, 160), dark = Qt::black;
        auto ring = [&](int inset, QColor topLeft, QColor bottomRight) {
            const QRect q = r.adjusted(inset, inset, -inset, -inset);
            painter->setPen(topLeft);
            painter->drawLine(q.topLeft(), q.topRight());
            painter->drawLine(q.topLeft(), q.bottomLeft());
            painter->setPen(bottomRight);
            painter->drawLine(q.bottomLeft(), q.bottomRight());
            painter->drawLine(q.topRight(), q.bottomRight());
        };
        if (sunken) {
            ring(0, dark, light);
            ring(1, shadow, kButtonFace);
        } else {
            ring(0, light, dark);
            ring(1, kButtonFace, shadow);
        }
        painter->restore();
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        if (element == CE_PushButton && (option->state & State_HasFocus)) {
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
                // Fusion shows the focus by a highlight of its own frame, which the bevel
                // above replaces: draw the button unfocused, then the dotted rectangle.
                QStyleOptionButton copy(*button);
                copy.state &= ~State_HasFocus;
                QProxyStyle::drawControl(element, &copy, painter, widget);
                drawFocusDots(painter, option->rect.adjusted(kFocusInset, kFocusInset, -kFocusInset,
                                                             -kFocusInset));
                return;
            }
        }
        if (element == CE_PushButtonLabel && !(option->state & State_Enabled)) {
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
                QStyleOptionButton copy(*button);
                copy.palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::white);
                copy.rect.translate(1, 1);
                QProxyStyle::drawControl(element, &copy, painter, widget);
                copy.palette.setColor(QPalette::Disabled, QPalette::ButtonText, kDisabledCaption);
                copy.rect.translate(-1, -1);
                QProxyStyle::drawControl(element, &copy, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        if (metric == PM_ButtonShiftHorizontal || metric == PM_ButtonShiftVertical)
            return 1;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    inline static const QColor kDisabledCaption{128, 128, 128};

    // Inside the two-pixel bevel and one pixel of face, as Windows places it.
    static constexpr int kFocusInset = 3;

private:
    // Every other pixel of the rectangle's edge, starting at its top-left corner.
    static void drawFocusDots(QPainter* painter, const QRect& rect)
    {
        if (rect.width() < 1 || rect.height() < 1)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(QPen(Qt::black, 0));
        const auto dot = [&](int x, int y) {
            if ((x - rect.left() + y - rect.top()) % 2 == 0)
                painter->drawPoint(x, y);
        };
        for (int x = rect.left(); x <= rect.right(); ++x) {
            dot(x, rect.top());
            dot(x, rect.bottom());
        }
        for (int y = rect.top() + 1; y < rect.bottom(); ++y) {
            dot(rect.left(), y);
            dot(rect.right(), y);
        }
        painter->restore();
    }
};

} // namespace

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

QPalette systemPalette(const QWidget* widget)
{
    QPalette palette = QApplication::palette(widget);
    for (int group = 0; group < QPalette::NColorGroups; ++group)
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            palette.setBrush(g, r, QBrush(palette.brush(g, r)));
        }
    return palette;
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
    // One style for every button of the program, deleted with the application object.
    static QPointer<FlatButtonStyle> style;
    if (!style) {
        style = new FlatButtonStyle;
        style->setParent(QCoreApplication::instance());
    }
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, kButtonFace);
    button->setPalette(palette);
    button->setStyle(style);
}

} // namespace velo::look
