#pragma once

class QMimeData;

// What the drop target tells its owner about a drag over it.
class DragAndDropDelegate {
public:
    virtual ~DragAndDropDelegate() = default;

    // A drop happened; data is the drop's own data, valid during the call.
    virtual void onDrop(const QMimeData* data) = 0;
    // A drag of files is over the target; may come many times per drag.
    virtual void onDragBeforeDrop() = 0;
    // The drag left the target without a drop.
    virtual void offDragBeforeDrop() = 0;
};
