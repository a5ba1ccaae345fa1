#include "OutputLines.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr size_t kLongestLine = 64 << 10;

} // namespace

OutputLines::OutputLines(Handler handler, QObject* parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    int ends[2];
    // Close-on-exec: only the child that is given the write end gets it.
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    m_readEnd = UniqueFd(ends[0]);
    m_writeEnd = UniqueFd(ends[1]);
    // The child's end blocks as a terminal would; only ours must not.
    ::fcntl(m_readEnd.get(), F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_readEnd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OutputLines::readAvailable);
}

OutputLines::~OutputLines() = default;

void OutputLines::readAvailable()
{
    if (!m_readEnd.isOpen())
        return;
    char block[4096];
    for (;;) {
        const ssize_t got = ::read(m_readEnd.get(), block, sizeof block);
        if (got > 0) {
            m_pending.append(block, static_cast<size_t>(got));
            // A child that never ends a line gets it ended here.
            if (m_pending.size() > kLongestLine)
                m_pending += '\n';
            handLines();
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        const bool closed = got == 0 || errno != EAGAIN;
        handLines();
        if (closed) {
            if (!m_pending.empty())
                m_handler(std::exchange(m_pending, {}));
            m_notifier->setEnabled(false);
            m_readEnd = UniqueFd();
        }
        return;
    }
}

void OutputLines::handLines()
{
    size_t begin = 0;
    for (size_t end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n', begin)) {
        const size_t length = end > begin && m_pending[end - 1] == '\r' ? end - 1 - begin : end - begin;
        m_handler(m_pending.substr(begin, length));
        begin = end + 1;
    }
    m_pending.erase(0, begin);
}
