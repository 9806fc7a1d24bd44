#include "ui/WindowLookup.h"

#include <QApplication>
#include <QMainWindow>
#include <QWidget>
#include <QWindow>

namespace {

// Application windows, as opposed to dialogs, tool windows, pop-ups and tips.
bool isApplicationWindow(const QWidget* widget)
{
    return widget && widget->isWindow() && widget->isVisible() && widget->windowType() == Qt::Window;
}

} // namespace

QWidget* WindowLookup::mainWindow()
{
    QWidget* active = QApplication::activeWindow();
    if (isApplicationWindow(active))
        return active;
    // A sheet is a dialog parented to the window it covers.
    for (QWidget* w = active; w; w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
        if (isApplicationWindow(w))
            return w;
    }
    // QApplication::topLevelWidgets() has no order; the platform windows are
    // listed in the order they were created, which is the order of first showing.
    QWidget* last = nullptr;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        for (QWidget* widget : widgets) {
            if (widget->windowHandle() == window && isApplicationWindow(widget))
                last = widget;
        }
    }
    return last;
}

QWidget* WindowLookup::keyWindow()
{
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible())
        return active;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible())
        return modal;
    return mainWindow();
}

QWidget* WindowLookup::contentWidget(QWidget* window)
{
    if (!window)
        return nullptr;
    if (auto* main = qobject_cast<QMainWindow*>(window); main && main->centralWidget())
        return main->centralWidget();
    return window;
}
