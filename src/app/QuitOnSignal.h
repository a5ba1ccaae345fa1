#pragma once

#include "UniqueFd.h"

#include <QObject>

class QSocketNotifier;

// Ends the application as quitting does when the session ends it (SIGHUP at
// logout, SIGTERM from kill or shutdown, SIGINT or SIGQUIT from a
// terminal), unless it was started to ignore the signal: the event
// loop returns, so the running job goes with the queue that owns it, its
// programs and theirs are ended, and nothing half made is delivered. The
// window is not asked whether to quit: after a signal no one is there to
// answer.
//
// A signal handler may do almost nothing safely, so it only writes a byte
// to a pipe; the main loop reads it and leaves.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    // Needs the application object; handles the signals while it lives.
    // Only one may live at a time.
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // True once a signal has come that the event loop has not yet seen:
    // for waits that run before the loop does.
    bool hasSignalled() const;
    // Waits until fd can be read: true then, false as soon as a signal has
    // come (for a prompt, which must not outlast Ctrl+C).
    bool waitForInput(int fd) const;

private:
    void onSignalled();

    UniqueFd m_readEnd;
    UniqueFd m_writeEnd;
    QSocketNotifier* m_notifier = nullptr;
};
