#include "WindowGrowth.h"

#include "WindowLayout.h"

#include <QEvent>
#include <QLayout>
#include <QScrollArea>
#include <QTimer>

#include <algorithm>

WindowGrowth::WindowGrowth(QWidget* window, QScrollArea* area)
    : QObject(window)
    , m_window(window)
    , m_area(area)
{
    m_contentHeight = contentHeight();
    m_area->widget()->installEventFilter(this);
}

bool WindowGrowth::eventFilter(QObject* watched, QEvent* event)
{
    // A layout request comes whenever something in the content is shown,
    // hidden or changes its size; the content's new height is known once
    // Qt has handled it.
    if (watched == m_area->widget() && event->type() == QEvent::LayoutRequest && !m_pending) {
        m_pending = true;
        QTimer::singleShot(0, this, &WindowGrowth::grow);
    }
    return QObject::eventFilter(watched, event);
}

void WindowGrowth::grow()
{
    m_pending = false;
    const int wanted = contentHeight();
    const int shown = m_area->viewport()->height();
    // What the content gained, as far as the window does not show it yet.
    const int extra = wanted - std::max(shown, m_contentHeight);
    m_contentHeight = wanted;
    if (extra <= 0 || !m_window->isVisible() || m_window->isMaximized() || m_window->isFullScreen())
        return;
    const int room = WindowLayout::roomOn(m_window->screen()).height();
    const int height = std::min(m_window->height() + extra, std::max(room, m_window->height()));
    if (height > m_window->height())
        m_window->resize(m_window->width(), height);
}

int WindowGrowth::contentHeight() const
{
    QWidget* content = m_area->widget();
    QLayout* layout = content->layout();
    const int width = m_area->viewport()->width();
    return layout && layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : content->sizeHint().height();
}
