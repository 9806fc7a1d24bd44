#pragma once

#include <QString>
#include <QWidget>

namespace Outlet {

// Makes a control of a screen, named after its outlet so that tests and
// accessibility tools find it by name.
template <typename Widget> Widget* make(QWidget* parent, const char* name)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace Outlet
