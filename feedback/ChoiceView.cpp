#include "feedback/ChoiceView.h"

#include "ui/Styling.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr int kFaceSize = 30;
}

ChoiceView::ChoiceView(Mood mood, QWidget* parent)
    : QFrame(parent)
    , m_mood(mood)
{
    // Reached by Tab; a click chooses without taking the focus from the comment.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(120, 84);
    auto* layout = new QVBoxLayout(this);
    // The face is painted in the space left above the caption.
    layout->setContentsMargins(12, 14 + kFaceSize + 8, 12, 12);
    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_label);
    Styling::setCornerRadius(this, 8.0);
    Styling::setBorderWidth(this, 1.0);
}

ChoiceView::~ChoiceView() = default;

void ChoiceView::setAccent(const QColor& color)
{
    m_accent = color;
    Styling::setBorderColor(this, color);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, color);
    m_label->setPalette(palette);
    update();
}

void ChoiceView::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawFace(painter, QRectF((width() - kFaceSize) / 2.0, 14, kFaceSize, kFaceSize));
    if (hasFocus()) {
        // The frame's colour tells the choice; the focus gets a ring of its own.
        QPen pen(palette().color(QPalette::Highlight), 1.5);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(3, 3, -3, -3), 6, 6);
    }
}

void ChoiceView::drawFace(QPainter& painter, const QRectF& box) const
{
    QPen pen(m_accent, 2.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(box.adjusted(1, 1, -1, -1));
    painter.setBrush(m_accent);
    painter.setPen(Qt::NoPen);
    const double eyeY = box.top() + box.height() * 0.38;
    painter.drawEllipse(QPointF(box.left() + box.width() * 0.35, eyeY), 1.8, 1.8);
    painter.drawEllipse(QPointF(box.left() + box.width() * 0.65, eyeY), 1.8, 1.8);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const double mouthLeft = box.left() + box.width() * 0.3;
    const double mouthRight = box.left() + box.width() * 0.7;
    const double mouthY = box.top() + box.height() * (m_mood == Mood::Satisfied ? 0.6 : 0.74);
    const double bend = box.height() * (m_mood == Mood::Satisfied ? 0.16 : -0.14);
    QPainterPath mouth(QPointF(mouthLeft, mouthY));
    mouth.quadTo(QPointF(box.center().x(), mouthY + bend), QPointF(mouthRight, mouthY));
    painter.drawPath(mouth);
}

void ChoiceView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

void ChoiceView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit clicked();
        return;
    default:
        QFrame::keyPressEvent(event);
    }
}
