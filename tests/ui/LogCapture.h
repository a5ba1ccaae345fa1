#pragma once

#include <QByteArray>

#include <cstdio>

// Sends file descriptor 1 into a temporary file while it lives, so a test can
// compare the exact lines the code wrote with Log::line. Whatever was not
// taken goes back to the real standard output at the end.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool isActive() const { return m_file != nullptr; }
    // Ends the capture and returns everything written meanwhile.
    QByteArray take();

private:
    std::FILE* m_file = nullptr;
    int m_savedStdout = -1;
};
