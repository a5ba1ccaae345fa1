#include "ChildProcess.h"

#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

ChildProcess::ChildProcess(QObject* parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(&m_process, &QProcess::finished, this, &ChildProcess::onFinished);
}

ChildProcess::~ChildProcess()
{
    disconnect(&m_process, nullptr, this, nullptr);
    terminate();
}

std::optional<std::string> ChildProcess::start(const std::string& program,
                                               const std::vector<std::string>& arguments)
{
    // QProcess passes its arguments through QString, which cannot carry
    // names that are not valid UTF-8. The child therefore replaces itself
    // with the program and the exact bytes, right before QProcess's own exec
    // would run; should that fail, QProcess's exec reports the failure.
    auto argv = std::make_shared<std::vector<std::string>>();
    argv->push_back(program);
    argv->insert(argv->end(), arguments.begin(), arguments.end());
    m_process.setChildProcessModifier([argv] {
        ::setpgid(0, 0);
        std::vector<char*> pointers;
        for (std::string& argument : *argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        // execvp would hand a file that is not a program to /bin/sh.
        if (std::strchr(pointers[0], '/'))
            ::execv(pointers[0], pointers.data());
        else
            ::execvp(pointers[0], pointers.data());
    });
    QStringList args;
    for (const std::string& argument : arguments)
        args << QString::fromStdString(argument);
    m_process.start(QString::fromStdString(program), args);
    if (m_process.waitForStarted(-1))
        return std::nullopt;
    m_ended = true;
    m_startError = m_process.errorString().toStdString() + ": " + program;
    return m_startError;
}

bool ChildProcess::succeeded() const
{
    return m_ended && m_startError.empty() && m_process.exitStatus() == QProcess::NormalExit
        && m_process.exitCode() == 0;
}

int ChildProcess::exitCode() const
{
    if (!m_ended || !m_startError.empty() || m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

std::string ChildProcess::exitDescription() const
{
    if (!m_startError.empty())
        return "could not be started: " + m_startError;
    if (!m_ended)
        return "still running";
    if (m_process.exitStatus() == QProcess::CrashExit)
        return "killed by signal " + std::to_string(m_process.exitCode());
    return "exit status " + std::to_string(m_process.exitCode());
}

void ChildProcess::terminate()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const qint64 pid = m_process.processId();
    if (pid > 0)
        ::kill(static_cast<pid_t>(-pid), SIGKILL);
    m_process.waitForFinished(5000);
}

void ChildProcess::onFinished(int, QProcess::ExitStatus)
{
    m_ended = true;
    emit ended();
}
