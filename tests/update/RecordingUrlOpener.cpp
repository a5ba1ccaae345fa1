#include "RecordingUrlOpener.h"

RecordingUrlOpener::RecordingUrlOpener(bool succeeds)
    : m_succeeds(succeeds)
{
}

bool RecordingUrlOpener::open(const QUrl& url)
{
    opened.append(url);
    return m_succeeds;
}
