#pragma once

#include "Failure.h"
#include "SessionDisplay.h"

#include <string>

// Where the running instance listens, kept in the work folder. A later
// start reads it rather than work the place out again: its environment may
// differ from the running instance's ($XDG_RUNTIME_DIR set or not), and the
// channel may be in a fresh folder whose name no one can predict. The work
// folder is the user's own and closed to others, so what is read there was
// written by this user.
//
// The record holds the socket path, then, each after a NUL byte, what else
// a later start must know as "name=value": the display the running window
// is on ("x11=", "wayland="). A record of the socket path alone, as earlier
// versions wrote it, names no display.
class ChannelRecord {
public:
    explicit ChannelRecord(std::string workFolder);

    // Records socketPath and the display, replacing any earlier record in
    // one step, so a reader never sees half of it.
    Failure write(const std::string& socketPath, const SessionDisplay& display = {}) const;
    // The recorded socket path and display, or why there is none to use.
    Failure read(std::string& socketPath, SessionDisplay& display) const;
    // Only the instance that holds the lock removes the record, when it
    // stops listening or has no channel.
    void remove() const;

private:
    std::string path() const;

    std::string m_workFolder;
};
