#include "app/WindowController.h"

#include "platform/Bundle.h"

#include <QWidget>

WindowController::WindowController(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(L(QStringLiteral("Zavrin")));
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("contentWidget"));
    content->setAutoFillBackground(true);
    QPalette palette = content->palette();
    palette.setColor(QPalette::Window, Qt::white);
    content->setPalette(palette);
    setCentralWidget(content);
    resize(720, 480);
}

WindowController::~WindowController() = default;

void WindowController::showWindow()
{
    show();
    raise();
    activateWindow();
}
