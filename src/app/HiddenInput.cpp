#include "HiddenInput.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// What the handler needs, set before it is installed and kept until it is
// taken away again: a signal handler reaches nothing else.
termios silentForHandler{};
char promptForHandler[64] = {};
volatile std::sig_atomic_t promptLengthForHandler = 0;

bool inForeground()
{
    return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

// tcgetpgrp, tcsetattr and write may be called from a handler. Continued
// in the background (bg, or kill %1, which sends SIGCONT after SIGTERM),
// the terminal is the shell's: touched, it would stop the program again.
void onContinue(int)
{
    const int savedErrno = errno;
    if (!inForeground()) {
        errno = savedErrno;
        return;
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &silentForHandler);
    if (::write(STDERR_FILENO, promptForHandler, promptLengthForHandler) < 0) {
    }
    errno = savedErrno;
}

} // namespace

HiddenInput::HiddenInput(const std::string& prompt)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_shown) != 0)
        return;
    m_hiding = true;
    silentForHandler = m_shown;
    silentForHandler.c_lflag &= ~tcflag_t(ECHO);
    const size_t length = std::min(prompt.size(), sizeof promptForHandler);
    std::memcpy(promptForHandler, prompt.data(), length);
    promptLengthForHandler = static_cast<std::sig_atomic_t>(length);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silentForHandler);
    struct sigaction action {};
    action.sa_handler = onContinue;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGCONT, &action, &m_previousContinue);
    if (::write(STDERR_FILENO, prompt.data(), prompt.size()) < 0) {
    }
}

HiddenInput::~HiddenInput()
{
    if (!m_hiding)
        return;
    ::sigaction(SIGCONT, &m_previousContinue, nullptr);
    // Ended in the background (stopped with Ctrl+Z, then kill %1), the
    // terminal is the shell's, which set its own modes when the program
    // stopped: they stay.
    if (!inForeground())
        return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_shown);
    if (::write(STDERR_FILENO, "\n", 1) < 0) {
    }
}
