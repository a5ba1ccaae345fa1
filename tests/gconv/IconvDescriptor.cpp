#include "IconvDescriptor.h"

#include <cerrno>
#include <vector>

namespace {

constexpr char kCanary = '\xA5';
const iconv_t kNotOpen = reinterpret_cast<iconv_t>(-1);

} // namespace

// One conversion: an output buffer filled with a canary beyond the room
// handed out, so that a write past the room shows.
class IconvDescriptor::Run {
public:
    Run(iconv_t cd, qsizetype inputSize, bool growingRoom)
        : m_cd(cd)
        , m_buffer(static_cast<size_t>(inputSize) * 4 + 64, kCanary)
        , m_room(growingRoom ? 0 : m_buffer.size())
        , m_growingRoom(growingRoom)
    {
    }

    // in == nullptr flushes. Returns false once a call stopped with an
    // error other than E2BIG (its errno in result.error).
    bool call(char** in, size_t* inLeft)
    {
        for (;;) {
            char* out = m_buffer.data() + m_used;
            size_t outLeft = m_room - m_used;
            ++result.calls;
            const size_t status = iconv(m_cd, in, inLeft, &out, &outLeft);
            const int error = errno;
            m_used = static_cast<size_t>(out - m_buffer.data());
            checkCanary();
            if (status != static_cast<size_t>(-1)) {
                result.replaced += status;
                return true;
            }
            if (error != E2BIG || !m_growingRoom || m_room == m_buffer.size()) {
                result.error = error;
                return false;
            }
            ++m_room;
        }
    }

    Result finish(qsizetype unread)
    {
        result.output = QByteArray(m_buffer.data(), static_cast<qsizetype>(m_used));
        result.unread = unread;
        return result;
    }

    Result result;

private:
    void checkCanary()
    {
        for (size_t i = m_room; i < m_buffer.size(); ++i)
            if (m_buffer[i] != kCanary)
                result.overran = true;
    }

    iconv_t m_cd;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    size_t m_room;
    bool m_growingRoom;
};

IconvDescriptor::IconvDescriptor(const char* to, const char* from)
    : m_cd(iconv_open(to, from))
{
}

IconvDescriptor::~IconvDescriptor()
{
    if (isOpen())
        iconv_close(m_cd);
}

bool IconvDescriptor::isOpen() const
{
    return m_cd != kNotOpen;
}

iconv_t IconvDescriptor::handle() const
{
    return m_cd;
}

void IconvDescriptor::reset()
{
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
}

IconvDescriptor::Result IconvDescriptor::convert(const QByteArray& input)
{
    return convertInPieces(input, input.size() + 1, false);
}

IconvDescriptor::Result IconvDescriptor::convertInPieces(const QByteArray& input, qsizetype pieceSize,
                                                         bool growingRoom)
{
    Run run(m_cd, input.size(), growingRoom);
    QByteArray unread;
    for (qsizetype next = 0; next < input.size(); next += pieceSize) {
        unread += input.mid(next, pieceSize);
        char* in = unread.data();
        size_t inLeft = static_cast<size_t>(unread.size());
        const bool done = run.call(&in, &inLeft);
        unread = unread.right(static_cast<qsizetype>(inLeft));
        if (!done && run.result.error != EINVAL)
            return run.finish(unread.size());
    }
    if (!unread.isEmpty())
        return run.finish(unread.size()); // cut inside a sequence: EINVAL stands
    run.result.error = 0;
    run.call(nullptr, nullptr);
    return run.finish(0);
}
