#pragma once

#include <QByteArray>

#include <cstdio>

// Sends file descriptor 1 into a temporary file for as long as it lives, so a
// test can check the exact lines the code under test wrote. Text that was
// never taken (say, a failure message printed by QTRY_* while capturing) goes
// back to the real standard output when the capture ends.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    bool isActive() const;
    // Ends the capture and returns everything written meanwhile.
    QByteArray take();

private:
    QByteArray stop();

    std::FILE* m_file = nullptr;
    int m_savedStdout = -1;
};
