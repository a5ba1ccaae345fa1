#pragma once

#include "SessionDisplay.h"
#include "UniqueFd.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ChannelFolder;
class QByteArray;
class QLocalServer;
class QLocalSocket;

// Keeps Quillmere to one running instance per work folder: all archive jobs
// stage in one folder inside it, so a second start hands its paths to the
// instance that runs and ends. The running instance holds a lock on a file
// in the work folder for its whole life, so no second process ever stages
// beside it, whether or not it can reach it. The channel is a local socket
// in a private folder with a short path ($XDG_RUNTIME_DIR, else one under
// /tmp named with the user id, else a fresh one beside that): socket
// addresses are limited to about a hundred bytes, which a long home folder
// path alone would exceed. The running instance records where it listens in
// the work folder, and later starts go by that record alone.
//
// The running instance records the display its window is on as well. A
// later start with a window of its own on another display (another desktop
// session of the same user) does not hand its paths over: the archive, and
// any question about it, would come up where its user cannot see them.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,    // this process holds the lock: it runs (and listens, when it can)
        HandedOver, // the running instance took the paths: end now
        Alone,      // the work folder can hold no lock: run without one
        Failed,     // an instance runs but did not take the paths: end with a failure
        NotRunning, // Claim::HandOverOnly, and no instance runs: nothing was taken
    };
    // What a start may become.
    enum class Claim {
        RunOrHandOver, // the running instance, when none runs yet
        HandOverOnly,  // never the running instance (a start that cannot show a window)
    };
    // Why the paths were not taken, after Role::Failed.
    enum class Shortfall {
        NotConfirmed, // sent, but never confirmed: the instance may still act on them
        NotReached,   // the instance holds the lock but takes no message
        GivenUp,      // the program is ending (a signal) while it waited
        OtherDisplay, // the instance shows its window on another display: nothing was sent
    };

    // workFolder holds the lock and the channel's record (it is created
    // for the user alone, mode 0700, when missing). The running instance's
    // socket goes into the first of channelFolders that can be made private
    // and gives a short enough address; when none can, into a fresh private
    // folder beside the last, named after it with a random suffix.
    // display is where this start would show its window: the running
    // instance records it, a later start compares it with the recorded one.
    // A start that cannot show a window names none.
    SingleInstance(std::string workFolder, std::vector<std::string> channelFolders, SessionDisplay display = {},
                   QObject* parent = nullptr);
    ~SingleInstance() override;

    // The application's work folder, $HOME/.quillmere.
    static std::string defaultFolder();
    // $XDG_RUNTIME_DIR/quillmere when it is set, then /tmp/quillmere-<uid>
    // (so a fresh folder is /tmp/quillmere-<uid>-XXXXXX).
    static std::vector<std::string> defaultChannelFolders();

    // Where the running instance listens, or where this later start found
    // it recorded; empty without a channel.
    std::string socketPath() const { return m_socketPath; }

    // Becomes the running instance, or hands paths (absolute, as bytes) to
    // the one that runs; an empty list asks it to come to the front. Waits
    // a few seconds at most for an instance that is still starting, and
    // stops waiting as soon as giveUp says so. With Claim::HandOverOnly, a
    // free lock is let go of at once, and nothing listens.
    Role claim(const std::vector<std::string>& paths, const std::function<bool()>& giveUp = {},
               Claim mode = Claim::RunOrHandOver);
    Shortfall shortfall() const { return m_shortfall; }
    // The display the running instance recorded, after Shortfall::OtherDisplay.
    const SessionDisplay& runningDisplay() const { return m_runningDisplay; }

signals:
    // Paths from a later start, in the order that start gave them.
    void filesReceived(const std::vector<std::string>& paths);
    // A later start without paths.
    void activationRequested();

private:
    enum class Lock { Taken, HeldElsewhere, Unavailable };
    enum class HandOver { NotReached, Confirmed, Unconfirmed, GivenUp, OtherDisplay };
    enum class Parse { Incomplete, Invalid, Complete };

    Lock tryLock();
    void openChannel();
    // Listens at m_socketPath; a failure is told after failurePrefix.
    bool listen(const char* failurePrefix);
    void stopListening();
    HandOver handOverToRecorded(const std::vector<std::string>& paths, const std::function<bool()>& giveUp);
    HandOver handOver(const std::vector<std::string>& paths, const std::function<bool()>& giveUp);
    void serve(QLocalSocket* socket);
    void deliver(const std::vector<std::string>& paths);

    // The message: "QMR1", the number of paths, then each path as its
    // length and its bytes; numbers are 32-bit big-endian.
    static QByteArray encode(const std::vector<std::string>& paths);
    static Parse decode(const QByteArray& message, std::vector<std::string>& paths);

    std::string m_workFolder;
    std::vector<std::string> m_channelFolders;
    SessionDisplay m_display;
    std::string m_socketPath;
    // Where the instance at m_socketPath recorded its window.
    SessionDisplay m_runningDisplay;
    // Why the last attempt did not reach the running instance.
    std::string m_unreachable;
    Shortfall m_shortfall = Shortfall::NotReached;
    UniqueFd m_lock;
    std::unique_ptr<ChannelFolder> m_channel;
    QLocalServer* m_server = nullptr;
};
