#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QRect>

class QPushButton;
class QWidget;

namespace velo::look
{

// Both windows share one look: a pale green ground, lavender buttons, one icon.
inline const QColor kWindowBackground{192, 255, 192};
inline const QColor kButtonFace{192, 192, 255};
inline const QColor kProgressPanelBackground{255, 192, 128};
inline const QColor kCellBackground{255, 255, 255};

enum class Face { PGothic, PMincho };

// Layout is given in twips (1/1440 inch): 15 twips make one pixel at 96 dpi, and the
// pixel count grows with the screen's logical dpi.
int twipsToPixels(int twips);
QRect twipsRect(int left, int top, int width, int height);

// "ＭＳ Ｐゴシック" or "ＭＳ Ｐ明朝", falling back to the IPA P-faces, which share their
// metrics, where the Windows faces are not installed.
QFont windowFont(Face face, double points, bool bold);

QIcon appIcon();

// The application's palette for `widget`'s class with every colour marked as set, so that
// the widget and its children (a list's header, its frame) keep the system's colours
// under a window that paints its own. A palette straight from QApplication::palette()
// marks none as set and so takes the parent's.
QPalette systemPalette(const QWidget* widget);
void paintWindowBackground(QWidget* window);
void paintButtonFace(QPushButton* button);

} // namespace velo::look
