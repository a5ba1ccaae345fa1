#pragma once

#include <QList>
#include <QUrl>

#include <Qt>

class QMimeData;
class QWidget;

// Sends a drag's events to a widget the way Qt's drag machinery does, and
// reports what the widget answered.
class DragSimulation {
public:
    struct Answer {
        bool accepted = false;
        Qt::DropAction action = Qt::IgnoreAction;
    };

    // The source offers copy and move, as file managers do.
    static Answer enter(QWidget* target, const QMimeData* data);
    static Answer move(QWidget* target, const QMimeData* data);
    static void leave(QWidget* target);
    static Answer drop(QWidget* target, const QMimeData* data);

    static QList<QUrl> fileUrls(const QList<QByteArray>& paths);
};
