#pragma once

#include <QColor>
#include <QFrame>

class QLabel;

// One satisfaction choice of the feedback form: a face drawn above its
// caption in a rounded frame. A click, or Space or Enter while it has the
// focus, emits `clicked`. The accent colours the frame, the face and the caption.
class ChoiceView final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChoiceView)

public:
    enum class Mood {
        Satisfied,
        Unsatisfied,
    };

    ChoiceView(Mood mood, QWidget* parent = nullptr);
    ~ChoiceView() override;

    QLabel* label() const { return m_label; }
    void setAccent(const QColor& color);
    QColor accent() const { return m_accent; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void drawFace(QPainter& painter, const QRectF& box) const;

    Mood m_mood;
    QColor m_accent;
    QLabel* m_label = nullptr;
};
