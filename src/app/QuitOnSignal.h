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
// to a pipe; the main loop reads it and leaves. Once everything is cleaned
// up, the process ends by that same signal (see end()): a shell running a
// loop stops it only when the program died by the interrupt.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    // How a run ended: its exit status, and the signal that ended it (0
    // when none did).
    struct Ending {
        int status = 0;
        int signalNumber = 0;
    };

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
    // The last signal that came while this object lived, 0 when none did:
    // whether the event loop saw it or not, and one that came while the
    // application was ending included. One that comes after this was
    // answered 0, while the rest goes, ends the process when this object
    // goes: it is not lost between the two.
    int endingSignal();

    // Returns ending's status, or, after a signal, ends the process by it
    // as if no handler had been there (the status a shell sees is then
    // 128 + the signal's number). Called when no QuitOnSignal lives any
    // more and everything is cleaned up: nothing runs after it.
    static int end(const Ending& ending);

private:
    void onSignalled();
    bool takeSignals();

    UniqueFd m_readEnd;
    UniqueFd m_writeEnd;
    QSocketNotifier* m_notifier = nullptr;
    int m_signalNumber = 0;
    bool m_endingAsked = false;
};
