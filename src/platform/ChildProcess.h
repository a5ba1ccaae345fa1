#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class OutputLines;
class SupervisorProcess;

// One external program run for the application. The child shares the
// application's environment, working folder and (unless its output lines
// are taken) standard streams. A
// supervisor process stands between the application and the program (see
// ProcessSupervisor), so that everything the program started goes away with
// it when the application gives it up, or ends in any way at all.
//
// Start it on the window's thread: the kernel ends the job when the thread
// that started it ends.
class ChildProcess : public QObject {
    Q_OBJECT
public:
    explicit ChildProcess(QObject* parent = nullptr);
    // Ends a running child as terminate() does, without waiting for it.
    ~ChildProcess() override;

    // Returns the failure's description when the program cannot be started.
    // environment holds "NAME=value" texts added to (or replacing in) the
    // application's environment for this child alone: a value handed this
    // way stays out of the argument list that every user can read.
    std::optional<std::string> start(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment = {});

    // Before start: what the child writes to its standard output and error
    // goes to handler a line at a time, on this thread, instead of to the
    // application's streams. The lines written before the child ended come
    // before ended().
    void passOutputLinesTo(std::function<void(const std::string& line)> handler);
    // Before start: the child's standard input is a stream the application
    // writes once, with sendInput(), and which then ends. A child that
    // reads its input only once it has started up can so be started
    // before its input is known. Where that stream cannot be made, start()
    // fails (for the system's limits) rather than leave the child the
    // application's own input.
    void takeInputLater();
    // Hands data to the child and ends its input. False when the child
    // cannot take it (it has ended, or it has no such input). Blocks while
    // the child has not read what the socket cannot hold (some hundred
    // kilobytes): meant for a short text.
    bool sendInput(const std::string& data);

    bool hasEnded() const { return m_ended; }
    bool succeeded() const;
    // The exit status of a child that ended normally, otherwise -1.
    int exitCode() const;
    // How it ended, to follow the program's name in a sentence: "exited
    // with status 3", "was killed by signal 9", "could not be started (...)".
    std::string exitDescription() const;
    // The start failed for want of descriptors, memory or processes: the
    // system's limits, not the program.
    bool startHitSystemLimit() const;

    // The bytes the child and everything it started have read so far: a
    // measure of progress for programs that read their input once.
    uint64_t bytesRead() const;

    // Has the child and everything it started ended, which takes some
    // milliseconds; ended() follows. Returns at once.
    void terminate();
    // Blocks until the child and everything it started have ended, at most
    // milliseconds: for an application that is ending and must know its
    // programs gone before it removes their files. True when they have.
    bool waitForEnded(int milliseconds);

signals:
    void ended();

private:
    void onExited(int waitStatus);
    bool exitedNormally() const;

    SupervisorProcess* m_process;
    OutputLines* m_output = nullptr;
    UniqueFd m_input;
    UniqueFd m_childInput;
    bool m_ended = false;
    int m_waitStatus = 0;
    std::string m_startError;
    int m_inputError = 0;
};
