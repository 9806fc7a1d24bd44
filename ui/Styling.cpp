#include "ui/Styling.h"

#include <QAbstractButton>
#include <QPalette>
#include <QWidget>

namespace {

const char* const kBackground = "zavrinLayerBackground";
const char* const kRadius = "zavrinLayerCornerRadius";
const char* const kBorderWidth = "zavrinLayerBorderWidth";
const char* const kBorderColor = "zavrinLayerBorderColor";

int slice(const QString& text, int position)
{
    return text.mid(position, 2).toInt(nullptr, 16);
}

QString cssColor(const QColor& color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}

// Rebuilds the widget's own style sheet from its layer properties. The rule
// is scoped to the widget's object name so that children keep their style.
void applyLayer(QWidget* view)
{
    if (view->objectName().isEmpty())
        view->setObjectName(QStringLiteral("layer%1").arg(reinterpret_cast<quintptr>(view), 0, 16));
    QString rules;
    const QVariant background = view->property(kBackground);
    if (background.isValid())
        rules += QStringLiteral("background-color:%1;").arg(cssColor(background.value<QColor>()));
    const double radius = view->property(kRadius).toDouble();
    if (radius > 0)
        rules += QStringLiteral("border-radius:%1px;").arg(radius);
    const double width = view->property(kBorderWidth).toDouble();
    if (width > 0) {
        const QVariant color = view->property(kBorderColor);
        rules += QStringLiteral("border:%1px solid %2;")
                     .arg(width)
                     .arg(color.isValid() ? cssColor(color.value<QColor>()) : QStringLiteral("transparent"));
    }
    view->setAttribute(Qt::WA_StyledBackground, true);
    view->setStyleSheet(QStringLiteral("#%1{%2}").arg(view->objectName(), rules));
}

void setColorProperty(QWidget* view, const char* name, const std::optional<QColor>& color)
{
    view->setProperty(name, color ? QVariant(*color) : QVariant());
    applyLayer(view);
}

} // namespace

namespace Styling {

std::optional<QColor> hexStr(const QString& text)
{
    if (text.size() == 6)
        return QColor(slice(text, 0), slice(text, 2), slice(text, 4), 255);
    if (text.size() == 8)
        return QColor(slice(text, 2), slice(text, 4), slice(text, 6), slice(text, 0));
    return std::nullopt;
}

void setTitleColor(QAbstractButton* button, const QColor& color)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button->setPalette(palette);
    button->setProperty("zavrinTitleColor", color);
}

void setBackgroundColor(QWidget* view, const std::optional<QColor>& color)
{
    setColorProperty(view, kBackground, color);
}

void setBorderColor(QWidget* view, const std::optional<QColor>& color)
{
    setColorProperty(view, kBorderColor, color);
}

double cornerRadius(const QWidget* view)
{
    return view->property(kRadius).toDouble();
}

void setCornerRadius(QWidget* view, double radius)
{
    view->setProperty(kRadius, radius);
    applyLayer(view);
}

void setBorderWidth(QWidget* view, double width)
{
    view->setProperty(kBorderWidth, width);
    applyLayer(view);
}

} // namespace Styling

namespace Palette {

QColor text1()
{
    return *Styling::hexStr(QStringLiteral("2A2A2A"));
}

QColor text2()
{
    return *Styling::hexStr(QStringLiteral("666666"));
}

QColor text3()
{
    return *Styling::hexStr(QStringLiteral("999999"));
}

QColor warningText()
{
    return *Styling::hexStr(QStringLiteral("B35900"));
}

} // namespace Palette
