#pragma once

#include "UrlOpener.h"

#include <QList>
#include <QUrl>

// Remembers the addresses it was asked to open instead of opening them.
class RecordingUrlOpener : public UrlOpener {
public:
    bool open(const QUrl& url) override
    {
        opened << url;
        return true;
    }

    QList<QUrl> opened;
};
