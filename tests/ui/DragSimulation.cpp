#include "DragSimulation.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QWidget>

namespace {

const Qt::DropActions kOffered = Qt::CopyAction | Qt::MoveAction;

template <typename Event>
DragSimulation::Answer send(QWidget* target, Event& event)
{
    // Qt proposes the source's preferred action, here a move; the target
    // has to ask for a copy itself.
    event.setDropAction(Qt::MoveAction);
    event.ignore();
    QApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

} // namespace

DragSimulation::Answer DragSimulation::enter(QWidget* target, const QMimeData* data)
{
    QDragEnterEvent event(target->rect().center(), kOffered, data, Qt::LeftButton, Qt::NoModifier);
    return send(target, event);
}

DragSimulation::Answer DragSimulation::move(QWidget* target, const QMimeData* data)
{
    QDragMoveEvent event(target->rect().center(), kOffered, data, Qt::LeftButton, Qt::NoModifier);
    return send(target, event);
}

void DragSimulation::leave(QWidget* target)
{
    QDragLeaveEvent event;
    QApplication::sendEvent(target, &event);
}

DragSimulation::Answer DragSimulation::drop(QWidget* target, const QMimeData* data)
{
    QDropEvent event(QPointF(target->rect().center()), kOffered, data, Qt::LeftButton, Qt::NoModifier);
    return send(target, event);
}

QList<QUrl> DragSimulation::fileUrls(const QList<QByteArray>& paths)
{
    // Built from the bytes, percent-encoded as file managers send them.
    QList<QUrl> urls;
    for (const QByteArray& path : paths)
        urls << QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode);
    return urls;
}
