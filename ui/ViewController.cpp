#include "ui/ViewController.h"

ViewController::ViewController(QWidget* parent)
    : QDialog(parent)
{
}

ViewController::~ViewController() = default;

void ViewController::loadViewIfNeeded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    viewDidLoad();
}

void ViewController::presentAsSheet(QWidget* presenter)
{
    present(presenter, Qt::WindowModal);
}

void ViewController::presentAsModalWindow(QWidget* presenter)
{
    present(presenter, Qt::ApplicationModal);
}

void ViewController::present(QWidget* presenter, Qt::WindowModality modality)
{
    if (m_presented)
        return;
    loadViewIfNeeded();
    // A screen is made before it knows its presenter; it moves under the
    // presenting window so that the window manager keeps it on top of it.
    QWidget* window = presenter ? presenter->window() : nullptr;
    if (parentWidget() != window)
        setParent(window, windowFlags() | Qt::Dialog);
    setWindowModality(modality);
    m_presented = true;
    viewWillAppear();
    adjustSize();
    // QDialog::open shows the dialog modally without a nested event loop.
    open();
    viewDidAppear();
}

void ViewController::dismissViewController()
{
    if (!m_presented)
        return;
    m_presented = false;
    hide();
    setResult(QDialog::Rejected);
    emit didDismiss();
}

void ViewController::reject()
{
    dismissViewController();
}
