#pragma once

#include <QByteArray>

#include <iconv.h>

#include <cstddef>

// An iconv(3) descriptor and the ways a program may drive it: the whole
// input at once, or in pieces with the output room handed out a byte at a
// time, always finishing with the flush iconv(cd, NULL, NULL, &out, &left).
class IconvDescriptor {
public:
    struct Result {
        QByteArray output;
        size_t replaced = 0;   // sum of iconv's irreversible counts
        int error = 0;         // errno of the call that stopped, 0 when none did
        qsizetype unread = 0;  // input bytes iconv left unread at the end
        bool overran = false;  // a byte past the room given was changed
        int calls = 0;
    };

    IconvDescriptor(const char* to, const char* from);
    ~IconvDescriptor();
    IconvDescriptor(const IconvDescriptor&) = delete;
    IconvDescriptor& operator=(const IconvDescriptor&) = delete;

    bool isOpen() const;
    iconv_t handle() const;

    // One call with ample room, then the flush.
    Result convert(const QByteArray& input);
    // Input in pieces of pieceSize bytes; bytes iconv leaves unread (a cut
    // UTF-8 sequence) go in front of the next piece, as iconv(3) expects.
    // With growingRoom the output room starts at nothing and grows by one
    // byte after each E2BIG; otherwise it is ample.
    Result convertInPieces(const QByteArray& input, qsizetype pieceSize, bool growingRoom);
    // Back to the initial state, dropping anything pending.
    void reset();

private:
    class Run;

    iconv_t m_cd;
};
