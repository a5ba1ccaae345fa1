#include "RecordingUpdateNotice.h"

RecordingUpdateNotice::RecordingUpdateNotice(bool confirms)
    : m_confirms(confirms)
{
}

bool RecordingUpdateNotice::confirm(const QString& text, const QString& informativeText,
                                    const QString& confirmLabel, const QString& closeLabel)
{
    shown.append(QStringList{text, informativeText, confirmLabel, closeLabel});
    return m_confirms;
}
