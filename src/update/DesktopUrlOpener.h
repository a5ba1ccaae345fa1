#pragma once

#include "UrlOpener.h"

// Opens addresses in the user's default browser.
class DesktopUrlOpener : public UrlOpener
{
public:
    bool open(const QUrl& url) override;
};
