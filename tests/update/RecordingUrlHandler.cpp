#include "RecordingUrlHandler.h"

void RecordingUrlHandler::handle(const QUrl& url)
{
    received.append(url);
}
