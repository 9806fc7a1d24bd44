#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QAbstractButton;
class QWidget;

namespace Styling {

// Colours from hexadecimal text: "RRGGBB" (opaque) or "AARRGGBB" (alpha
// first); digits in either case. Any other length, a leading "#" included,
// gives no colour.
std::optional<QColor> hexStr(const QString& text);

// Colours a button's title.
void setTitleColor(QAbstractButton* button, const QColor& color);

// The "layer" style of a widget: background, corner radius and border,
// drawn by a style sheet that addresses the widget alone, so that its
// children keep their own style. No colour clears it.
void setBackgroundColor(QWidget* view, const std::optional<QColor>& color);
double cornerRadius(const QWidget* view); // 0 until set
void setCornerRadius(QWidget* view, double radius);
void setBorderWidth(QWidget* view, double width);
void setBorderColor(QWidget* view, const std::optional<QColor>& color);

} // namespace Styling

// The palette.
namespace Palette {
QColor text1(); // "2A2A2A"
QColor text2(); // "666666"
QColor text3(); // "999999"
// Failures told in text: "B35900", a dark orange that reads on white
// (4.8:1), where the warning orange "FF890C" would not (2.4:1).
QColor warningText();
} // namespace Palette
