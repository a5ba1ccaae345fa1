#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <functional>
#include <string>

class QSocketNotifier;

// What a child program writes, taken through a pipe instead of the
// application's own streams, and handed on a line at a time without its
// line end ("\n" or, from a terminal, "\r\n").
class OutputLines : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const std::string& line)>;
    explicit OutputLines(Handler handler, QObject* parent = nullptr);
    ~OutputLines() override;

    // The end the child writes to; -1 when no pipe could be made.
    int writeEnd() const { return m_writeEnd.get(); }
    // Once the child has it: the application's copy goes, so that the pipe
    // closes when the child's writers have ended.
    void closeWriteEnd() { m_writeEnd = UniqueFd(); }
    // Hands on the lines there are now, and a last unended one once the
    // pipe has closed.
    void readAvailable();

private:
    void handLines();

    Handler m_handler;
    UniqueFd m_readEnd;
    UniqueFd m_writeEnd;
    QSocketNotifier* m_notifier = nullptr;
    std::string m_pending;
};
