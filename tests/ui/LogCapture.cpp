#include "LogCapture.h"

#include <unistd.h>

LogCapture::LogCapture()
{
    std::fflush(stdout);
    m_file = std::tmpfile();
    if (!m_file)
        return;
    m_savedStdout = ::dup(STDOUT_FILENO);
    if (m_savedStdout < 0 || ::dup2(::fileno(m_file), STDOUT_FILENO) < 0) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

LogCapture::~LogCapture()
{
    const QByteArray left = take();
    if (!left.isEmpty()) {
        std::fwrite(left.constData(), 1, size_t(left.size()), stdout);
        std::fflush(stdout);
    }
}

QByteArray LogCapture::take()
{
    if (!m_file)
        return {};
    std::fflush(stdout);
    ::dup2(m_savedStdout, STDOUT_FILENO);
    ::close(m_savedStdout);
    m_savedStdout = -1;
    QByteArray text;
    std::rewind(m_file);
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
        text.append(buffer, qsizetype(got));
    std::fclose(m_file);
    m_file = nullptr;
    return text;
}
