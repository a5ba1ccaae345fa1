#pragma once

#include "UpdateNotice.h"

// Closes every update notice without going to the page, and counts them.
class DecliningUpdateNotice : public UpdateNotice {
public:
    bool confirm(const QString&, const QString&, const QString&, const QString&) override
    {
        ++shown;
        return false;
    }

    int shown = 0;
};
