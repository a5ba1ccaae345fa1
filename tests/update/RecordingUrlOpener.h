#pragma once

#include "UrlOpener.h"

#include <QList>
#include <QUrl>

// Remembers the addresses it was asked to open instead of starting a browser.
class RecordingUrlOpener : public UrlOpener
{
public:
    explicit RecordingUrlOpener(bool succeeds = true);

    bool open(const QUrl& url) override;

    QList<QUrl> opened;

private:
    bool m_succeeds;
};
