#pragma once

#include "UpdateNotice.h"

#include <QList>
#include <QStringList>

// Answers the notice as told and remembers what it was shown, in the order
// text, informative text, confirming label, closing label.
class RecordingUpdateNotice : public UpdateNotice
{
public:
    explicit RecordingUpdateNotice(bool confirms);

    bool confirm(const QString& text, const QString& informativeText,
                 const QString& confirmLabel, const QString& closeLabel) override;

    QList<QStringList> shown;

private:
    bool m_confirms;
};
