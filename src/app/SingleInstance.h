#pragma once

#include <QObject>

#include <string>
#include <vector>

class QByteArray;
class QLocalServer;
class QLocalSocket;

// Keeps Quillmere to one running instance per user: all archive jobs share
// one staging folder, so a second start hands its paths to the instance that
// runs and ends. The channel is a local socket in the user's private work
// folder; a lock file held for the instance's life tells who runs, so a
// socket file left by a crashed instance is recognised and replaced.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,    // this process runs and listens for later starts
        HandedOver, // the running instance took the paths: end now
        Alone,      // no channel could be set up: run without one
        Failed,     // an instance runs but did not confirm the paths
    };

    // folder holds the lock and the socket; it is created for the user
    // alone (mode 0700) when missing.
    explicit SingleInstance(std::string folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The application's work folder, $HOME/.quillmere.
    static std::string defaultFolder();
    std::string socketPath() const;

    // Becomes the running instance, or hands paths (absolute, as bytes) to
    // the one that runs; an empty list asks it to come to the front. Blocks
    // for a few seconds at most.
    Role claim(const std::vector<std::string>& paths);

signals:
    // Paths from a later start, in the order that start gave them.
    void filesReceived(const std::vector<std::string>& paths);
    // A later start without paths.
    void activationRequested();

private:
    enum class Lock { Taken, HeldElsewhere, Unavailable };
    enum class HandOver { NotReached, Confirmed, Unconfirmed };
    enum class Parse { Incomplete, Invalid, Complete };

    bool prepareFolder() const;
    Lock tryLock();
    void releaseLock();
    bool listen();
    HandOver handOver(const std::vector<std::string>& paths) const;
    void serve(QLocalSocket* socket);
    void deliver(const std::vector<std::string>& paths);

    // The message: "QMR1", the number of paths, then each path as its
    // length and its bytes; numbers are 32-bit big-endian.
    static QByteArray encode(const std::vector<std::string>& paths);
    static Parse decode(const QByteArray& message, std::vector<std::string>& paths);

    std::string m_folder;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};
