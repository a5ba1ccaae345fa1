#include "ChildProcess.h"

#include "ProcessText.h"

#include <QDir>

#include <algorithm>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

// Every process below root, read from /proc. expect starts its programs in
// sessions of their own, so the process group alone does not reach them.
std::vector<pid_t> descendantsOf(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        std::ifstream stat("/proc/" + entry.toStdString() + "/stat");
        const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t afterName = line.rfind(')');
        if (afterName == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + afterName + 1, " %c %d", &state, &parent) == 2)
            children.emplace(parent, pid);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        const auto [first, last] = children.equal_range(parent);
        for (auto it = first; it != last; ++it) {
            found.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return found;
}

// "rchar" of /proc/PID/io: every byte the process has read.
uint64_t bytesReadBy(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

} // namespace

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
                                               const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment)
{
    // QProcess passes its arguments through QString, which cannot carry
    // names that are not valid UTF-8. The child therefore replaces itself
    // with the program and the exact bytes, right before QProcess's own exec
    // would run; should that fail, QProcess's exec reports the failure.
    auto argv = std::make_shared<std::vector<std::string>>();
    argv->push_back(program);
    argv->insert(argv->end(), arguments.begin(), arguments.end());
    // Everything the child needs is made before the fork: after it, in a
    // process with other threads, nothing may allocate.
    auto envp = std::make_shared<std::vector<std::string>>(ProcessText::environmentWith(environment));
    auto argPointers = std::make_shared<std::vector<char*>>(ProcessText::pointersTo(*argv));
    auto envPointers = std::make_shared<std::vector<char*>>(ProcessText::pointersTo(*envp));
    m_process.setChildProcessModifier([argv, envp, argPointers, envPointers] {
        ::setpgid(0, 0);
        char* const* args = argPointers->data();
        // execvpe would hand a file that is not a program to /bin/sh.
        if (std::strchr(args[0], '/'))
            ::execve(args[0], args, envPointers->data());
        else
            ::execvpe(args[0], args, envPointers->data());
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

uint64_t ChildProcess::bytesRead() const
{
    if (m_process.state() == QProcess::NotRunning)
        return 0;
    const auto pid = static_cast<pid_t>(m_process.processId());
    uint64_t total = bytesReadBy(pid);
    for (const pid_t descendant : descendantsOf(pid))
        total += bytesReadBy(descendant);
    return total;
}

void ChildProcess::terminate()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const auto pid = static_cast<pid_t>(m_process.processId());
    if (pid > 0) {
        ::kill(-pid, SIGSTOP); // nothing new is started while we look
        for (const pid_t descendant : descendantsOf(pid))
            ::kill(descendant, SIGKILL);
        ::kill(-pid, SIGKILL);
    }
    m_process.waitForFinished(5000);
}

void ChildProcess::onFinished(int, QProcess::ExitStatus)
{
    m_ended = true;
    emit ended();
}
