#pragma once

#include <QObject>
#include <QProcess>

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
    std::optional<std::string> start(const std::string& program, const std::vector<std::string>& arguments);

    bool hasEnded() const { return m_ended; }
    bool succeeded() const;
    // The exit status of a child that ended normally, otherwise -1.
    int exitCode() const;
    // "exit status 3", "killed by signal 9", "could not be started: ...".
    std::string exitDescription() const;

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
