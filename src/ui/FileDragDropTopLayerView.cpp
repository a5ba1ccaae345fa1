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
    m_dragTaken = false;
    if (!acceptAsCopy(event))
        return;
    if (DragAndDropDelegate* delegate = m_delegate)
        delegate->onDrop(event->mimeData());
}

void FileDragDropTopLayerView::updateDraggingItems()
{
    Log::line(LogPrefix::kDragOn);
    if (DragAndDropDelegate* delegate = m_delegate)
        delegate->onDragBeforeDrop();
}
