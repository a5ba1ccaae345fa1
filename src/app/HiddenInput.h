#pragma once

#include <csignal>
#include <termios.h>

#include <string>

// A terminal that does not show what is typed on it, for as long as this
// lives: the password prompt. Stopped with Ctrl+Z and brought back with fg,
// the program finds the terminal as the shell left it, showing what is
// typed; the terminal is made silent again the moment the program goes
// on, and the prompt is shown again. Only one lives at a time.
class HiddenInput {
public:
    // prompt is written to standard error; nothing happens when standard
    // input is no terminal.
    explicit HiddenInput(const std::string& prompt);
    ~HiddenInput();
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    bool m_hiding = false;
    termios m_shown{};
    struct sigaction m_previousContinue {};
};
