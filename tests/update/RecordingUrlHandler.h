#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's browser: registered with QDesktopServices, it
// receives the addresses that would otherwise start a real program.
class RecordingUrlHandler : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> received;

public slots:
    void handle(const QUrl& url);
};
