#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>

// One drop target of the home window. It takes drags of local files only,
// lights up while the pointer or a drag is over it, and hands every dropped
// URL, in the drag's order, to `dragComplete`. A drop anywhere on it, on the
// button or label inside it too, reaches it: its children never take drops.
// It decides nothing about the items. Main thread only.
class DragView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DragView)

public:
    using DragComplete = std::function<void(const QList<QUrl>& urls)>;

    explicit DragView(QWidget* parent = nullptr);
    ~DragView() override;

    bool dragEntered() const { return m_dragEntered; }
    void setDragEntered(bool entered);
    const DragComplete& dragComplete() const { return m_dragComplete; }
    void setDragComplete(DragComplete action) { m_dragComplete = std::move(action); }

    // The fill of each state: "F0F1F5" at rest, light grey while lit.
    static QColor restingFill();
    static QColor litFill();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool m_dragEntered = false;
    DragComplete m_dragComplete;
};
