#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QAbstractButton;
class QWidget;

// Colours from hexadecimal text: "RRGGBB" (opaque) or "AARRGGBB" (alpha
// first); digits in either case. Any other length, a leading "#" included,
// gives no colour.
std::optional<QColor> hexStr(const QString& text);

// The palette.
namespace Palette {
QColor primary(); // "FFA107"
QColor text1(); // "2A2A2A"
QColor text2(); // "666666"
QColor text3(); // "999999"
} // namespace Palette

// Colours a button's title.
void setTitleColor(QAbstractButton* button, const QColor& color);

// Frame edges in the parent's coordinates. Qt's y grows downwards, so `top`
// is the frame's y and `bottom` its y plus height. Setters move the widget
// and keep its size.
int viewID(const QWidget* view); // 0 when none was attached
void setViewID(QWidget* view, int id);
int top(const QWidget* view);
void setTop(QWidget* view, int value);
int bottom(const QWidget* view);
void setBottom(QWidget* view, int value);
int left(const QWidget* view);
void setLeft(QWidget* view, int value);
int right(const QWidget* view);
void setRight(QWidget* view, int value);

// The "layer" style of a widget: background, corner radius and border,
// drawn by a style sheet that addresses the widget alone. Getters answer
// what was set; colours are clear when none was.
QColor backgroundColor(const QWidget* view);
void setBackgroundColor(QWidget* view, const std::optional<QColor>& color);
double cornerRadius(const QWidget* view);
void setCornerRadius(QWidget* view, double radius);
double borderWidth(const QWidget* view);
void setBorderWidth(QWidget* view, double width);
QColor borderColor(const QWidget* view);
void setBorderColor(QWidget* view, const std::optional<QColor>& color);
