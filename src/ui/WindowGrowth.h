#pragma once

#include <QObject>

class QScrollArea;
class QWidget;

// The window grows with its content. The window is fitted to its content
// when it opens; when a note, the waiting list or a result later makes the
// content taller than the window shows, the window grows by as much, as
// far as the screen has room, instead of hiding the new lines below a
// scroll bar. It never shrinks by itself, and a window the user made
// smaller grows only by what the content gains.
class WindowGrowth : public QObject {
    Q_OBJECT
public:
    // area's widget is the content; window is the top-level widget.
    WindowGrowth(QWidget* window, QScrollArea* area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void grow();
    int contentHeight() const;

    QWidget* m_window;
    QScrollArea* m_area;
    int m_contentHeight = 0;
    bool m_pending = false;
};
