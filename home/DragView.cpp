#include "home/DragView.h"

#include "ui/Styling.h"

#include <QChildEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

namespace {

// Local files only. A drag must offer copying or linking: accepting a move
// could let the source delete the person's files once the drop is done.
bool acceptable(const QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            return false;
    }
    return event->possibleActions().testAnyFlags(Qt::CopyAction | Qt::LinkAction);
}

void acceptAsCopy(QDropEvent* event)
{
    event->setDropAction(event->possibleActions().testFlag(Qt::CopyAction) ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
}

// Qt hands a drag to the innermost widget that accepts drops; switching that
// off on every child lets all drags over the target reach the target.
void refuseDrops(QWidget* widget)
{
    widget->setAcceptDrops(false);
    const QList<QWidget*> children = widget->findChildren<QWidget*>();
    for (QWidget* child : children)
        child->setAcceptDrops(false);
}

} // namespace

DragView::DragView(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
}

DragView::~DragView() = default;

QColor DragView::restingFill()
{
    return *Styling::hexStr(QStringLiteral("F0F1F5"));
}

QColor DragView::litFill()
{
    return QColor(Qt::lightGray);
}

void DragView::setDragEntered(bool entered)
{
    if (m_dragEntered == entered)
        return;
    m_dragEntered = entered;
    update();
}

bool DragView::event(QEvent* event)
{
    // Children added at any time, and theirs, refuse drops once polished.
    if (event->type() == QEvent::ChildPolished) {
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
            refuseDrops(child);
    }
    return QWidget::event(event);
}

void DragView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRegion(event->region());
    // The owner gives the target its corners through the layer helpers.
    QPainterPath shape;
    const double radius = Styling::cornerRadius(this);
    shape.addRoundedRect(QRectF(rect()), radius, radius);
    painter.fillPath(shape, m_dragEntered ? litFill() : restingFill());
}

void DragView::enterEvent(QEnterEvent* event)
{
    setDragEntered(true);
    QWidget::enterEvent(event);
}

void DragView::leaveEvent(QEvent* event)
{
    setDragEntered(false);
    QWidget::leaveEvent(event);
}

void DragView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!acceptable(event)) {
        event->ignore();
        return;
    }
    acceptAsCopy(event);
    setDragEntered(true);
}

void DragView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptable(event))
        acceptAsCopy(event);
    else
        event->ignore();
}

void DragView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDragEntered(false);
    event->accept();
}

void DragView::dropEvent(QDropEvent* event)
{
    // The drag ends here for the target, so the light goes out.
    setDragEntered(false);
    if (!acceptable(event)) {
        event->ignore();
        return;
    }
    acceptAsCopy(event);
    const QList<QUrl> urls = event->mimeData()->urls();
    if (m_dragComplete)
        m_dragComplete(urls);
}
