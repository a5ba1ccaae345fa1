#include "FileDragDropTopLayerView.h"

#include "DragAndDropDelegate.h"
#include "DroppedItems.h"
#include "Log.h"
#include "LogPrefix.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

FileDragDropTopLayerView::FileDragDropTopLayerView(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("ファイルのドロップ先"));
}

void FileDragDropTopLayerView::coverWindow(QWidget* window)
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool FileDragDropTopLayerView::eventFilter(QObject* watched, QEvent* event)
{
    // Qt hands a drag over a widget that takes none to the nearest one up
    // that does: the window. The same steps follow as over this view.
    switch (event->type()) {
    case QEvent::DragEnter:
        dragEnterEvent(static_cast<QDragEnterEvent*>(event));
        return true;
    case QEvent::DragMove:
        dragMoveEvent(static_cast<QDragMoveEvent*>(event));
        return true;
    case QEvent::DragLeave:
        dragLeaveEvent(static_cast<QDragLeaveEvent*>(event));
        return true;
    case QEvent::Drop:
        dropEvent(static_cast<QDropEvent*>(event));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

bool FileDragDropTopLayerView::acceptAsCopy(QDropEvent* event)
{
    if (!DroppedItems::areLocalFiles(event->mimeData())) {
        event->ignore();
        return false;
    }
    // The dragged items stay where they are: the archive is made of copies.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void FileDragDropTopLayerView::dragEnterEvent(QDragEnterEvent* event)
{
    // Entering is the first update of the dragged items over this view.
    m_dragTaken = acceptAsCopy(event);
    if (m_dragTaken)
        updateDraggingItems();
}

void FileDragDropTopLayerView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptAsCopy(event))
        updateDraggingItems();
}

void FileDragDropTopLayerView::dragLeaveEvent(QDragLeaveEvent* event)
{
    event->accept();
    if (!m_dragTaken)
        return;
    m_dragTaken = false;
    Log::line(LogPrefix::kDragOff);
    if (DragAndDropDelegate* delegate = m_delegate)
        delegate->offDragBeforeDrop();
}

void FileDragDropTopLayerView::dropEvent(QDropEvent* event)
{
    const bool wasTaken = m_dragTaken;
    m_dragTaken = false;
    if (!acceptAsCopy(event)) {
        // The drag was shown as taken, and its data is gone or other at the
        // drop: the window takes its idle look back, as when a drag leaves.
        if (DragAndDropDelegate* delegate = m_delegate; delegate && wasTaken) {
            Log::line(LogPrefix::kDragOff);
            delegate->offDragBeforeDrop();
        }
        return;
    }
    if (DragAndDropDelegate* delegate = m_delegate)
        delegate->onDrop(event->mimeData());
}

void FileDragDropTopLayerView::updateDraggingItems()
{
    Log::line(LogPrefix::kDragOn);
    if (DragAndDropDelegate* delegate = m_delegate)
        delegate->onDragBeforeDrop();
}
