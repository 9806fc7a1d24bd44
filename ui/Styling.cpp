#include "ui/Styling.h"

#include <QAbstractButton>
#include <QPalette>
#include <QWidget>

namespace {

const char* const kViewId = "zavrinViewID";
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

QColor colorProperty(const QWidget* view, const char* name)
{
    const QVariant value = view->property(name);
    return value.isValid() ? value.value<QColor>() : QColor(Qt::transparent);
}

void setColorProperty(QWidget* view, const char* name, const std::optional<QColor>& color)
{
    view->setProperty(name, color ? QVariant(*color) : QVariant());
    applyLayer(view);
}

} // namespace

std::optional<QColor> hexStr(const QString& text)
{
    if (text.size() == 6)
        return QColor(slice(text, 0), slice(text, 2), slice(text, 4), 255);
    if (text.size() == 8)
        return QColor(slice(text, 2), slice(text, 4), slice(text, 6), slice(text, 0));
    return std::nullopt;
}

namespace Palette {
QColor primary()
{
    return *hexStr(QStringLiteral("FFA107"));
}
QColor text1()
{
    return *hexStr(QStringLiteral("2A2A2A"));
}
QColor text2()
{
    return *hexStr(QStringLiteral("666666"));
}
QColor text3()
{
    return *hexStr(QStringLiteral("999999"));
}
} // namespace Palette

void setTitleColor(QAbstractButton* button, const QColor& color)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button->setPalette(palette);
    button->setProperty("zavrinTitleColor", color);
}

int viewID(const QWidget* view)
{
    return view->property(kViewId).toInt();
}
void setViewID(QWidget* view, int id)
{
    view->setProperty(kViewId, id);
}

int top(const QWidget* view)
{
    return view->geometry().y();
}
void setTop(QWidget* view, int value)
{
    view->move(view->x(), value);
}
int bottom(const QWidget* view)
{
    return view->geometry().y() + view->height();
}
void setBottom(QWidget* view, int value)
{
    view->move(view->x(), value - view->height());
}
int left(const QWidget* view)
{
    return view->geometry().x();
}
void setLeft(QWidget* view, int value)
{
    view->move(value, view->y());
}
int right(const QWidget* view)
{
    return view->geometry().x() + view->width();
}
void setRight(QWidget* view, int value)
{
    view->move(value - view->width(), view->y());
}

QColor backgroundColor(const QWidget* view)
{
    return colorProperty(view, kBackground);
}
void setBackgroundColor(QWidget* view, const std::optional<QColor>& color)
{
    setColorProperty(view, kBackground, color);
}
QColor borderColor(const QWidget* view)
{
    return colorProperty(view, kBorderColor);
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

double borderWidth(const QWidget* view)
{
    return view->property(kBorderWidth).toDouble();
}
void setBorderWidth(QWidget* view, double width)
{
    view->setProperty(kBorderWidth, width);
    applyLayer(view);
}
