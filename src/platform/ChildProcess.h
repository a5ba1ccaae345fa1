#pragma once

#include <QObject>
#include <QProcess>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One external program run for the application. The child shares the
// application's environment, working folder and standard streams, and runs
// in a process group of its own, so that everything it started goes away
// with it when the application gives it up.
class ChildProcess : public QObject {
    Q_OBJECT
public:
    explicit ChildProcess(QObject* parent = nullptr);
    ~ChildProcess() override;

    // Returns the failure's description when the program cannot be started.
    // environment holds "NAME=value" texts added to (or replacing in) the
    // application's environment for this child alone: a value handed this
    // way stays out of the argument list that every user can read.
    std::optional<std::string> start(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment = {});

    bool hasEnded() const { return m_ended; }
    bool succeeded() const;
    // The exit status of a child that ended normally, otherwise -1.
    int exitCode() const;
    // "exit status 3", "killed by signal 9", "could not be started: ...".
    std::string exitDescription() const;

    // The bytes the child and everything it started have read so far: a
    // measure of progress for programs that read their input once.
    uint64_t bytesRead() const;

    // Ends the child and everything it started.
    void terminate();

signals:
    void ended();

private:
    void onFinished(int exitCode, QProcess::ExitStatus status);

    QProcess m_process;
    bool m_ended = false;
    std::string m_startError;
};
