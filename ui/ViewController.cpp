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
    // Modality and the window manager's stacking follow the parent's window.
    // A screen kept by a widget of that window (the usual owner) stays with
    // it; any other moves under the window.
    QWidget* window = presenter ? presenter->window() : nullptr;
    QWidget* parent = parentWidget();
    if (window && (!parent || parent->window() != window))
        setParent(window, windowFlags() | Qt::Dialog);
    setWindowModality(modality);
    m_presented = true;
    ++m_presentations;
    viewWillAppear();
    adjustSize();
    // show() of a modal dialog starts no event loop of its own, unlike exec();
    // QDialog::open() would also force window modality.
    show();
    viewDidAppear();
}

void ViewController::dismissViewController()
{
    if (!m_presented)
        return;
    m_presented = false;
    QDialog::done(QDialog::Rejected);
    emit didDismiss();
}

void ViewController::done(int result)
{
    if (m_presented)
        dismissViewController();
    else
        QDialog::done(result); // shown by other means than a presentation
}
