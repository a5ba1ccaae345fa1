#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <optional>
#include <string>
#include <sys/types.h>

class ProcessSupervisor;
class QSocketNotifier;

// The supervisor of one program (see ProcessSupervisor) as the application
// sees it: a child made by fork, not by QProcess. Qt runs QProcess's child
// in the application's memory with the application's thread stopped until
// that child exec's, so a child that stays behind as a supervisor cannot be
// one of its children. The event loop learns of the supervisor's end through
// a pidfd, and the supervisor is reaped then.
class SupervisorProcess : public QObject {
    Q_OBJECT
public:
    explicit SupervisorProcess(QObject* parent = nullptr);
    // Sends a supervisor that still runs SIGTERM, and does not wait.
    ~SupervisorProcess() override;

    // Forks and waits until the program has started or failed to: returns
    // the failure's description, the supervisor then already reaped.
    std::optional<std::string> start(const ProcessSupervisor& supervisor);
    // The system error number a failed start ended with; 0 otherwise.
    int startError() const { return m_startError; }

    // From a successful start until exited().
    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // Has the supervisor end the program and everything below it.
    void terminate() const;
    // Blocks until the supervisor has ended, at most milliseconds; true when
    // it has (exited() has then been sent).
    bool waitForExit(int milliseconds);

signals:
    // waitStatus as waitpid gives it.
    void exited(int waitStatus);

private:
    pid_t fork(const ProcessSupervisor& supervisor, int reportFd) const;
    std::optional<std::string> readStartFailure(int reportFd);
    std::string startFailed(const char* call, int error);
    void reapAtOnce(pid_t pid);
    void onExited();
    void endGroupOfKilled() const;

    pid_t m_pid = -1;
    UniqueFd m_pidfd;
    QSocketNotifier* m_exitNotifier = nullptr;
    int m_startError = 0;
};
