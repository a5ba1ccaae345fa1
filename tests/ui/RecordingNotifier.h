#pragma once

#include "Notifier.h"

#include <QString>
#include <QStringList>

// Remembers the notifications it was asked to show, as "title: text".
class RecordingNotifier : public Notifier {
public:
    void notify(const QString& title, const QString& text) override { shown << title + QStringLiteral(": ") + text; }

    QStringList shown;
};
