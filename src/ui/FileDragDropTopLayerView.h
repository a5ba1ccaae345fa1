#pragma once

#include <QWidget>

class DragAndDropDelegate;
class QDropEvent;

// A transparent layer over the window's picture that takes drags of local
// files as copies and tells its delegate about them. It draws nothing and
// knows nothing about archives.
class FileDragDropTopLayerView : public QWidget {
    Q_OBJECT
public:
    explicit FileDragDropTopLayerView(QWidget* parent = nullptr);

    // The delegate is not owned: the owner of this view sets itself, and it
    // outlives the view, which is one of its children.
    void setDelegate(DragAndDropDelegate* delegate) { m_delegate = delegate; }
    DragAndDropDelegate* delegate() const { return m_delegate; }

    // Takes the drags over the rest of window as well, as if they were
    // over this view: a drop on a button or a note is not lost.
    void coverWindow(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Accepts the event as a copy when it carries local files only.
    static bool acceptAsCopy(QDropEvent* event);
    void updateDraggingItems();

    DragAndDropDelegate* m_delegate = nullptr;
    // Qt sends a leave even for a drag this view refused on entering; only a
    // drag that was taken has an "off" to report.
    bool m_dragTaken = false;
};
