#pragma once

#include "SecretReading.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace QKeychain {
class Job;
}

// One secret in the desktop's keyring (the Secret Service, or KWallet on
// KDE) under a service name and a key, through QtKeychain.
//
// Nothing here may hold the caller up for long: whether a keyring exists is
// asked of the session bus alone, a read waits a bounded time, and writes
// run in the background one at a time, in the order asked. A write asked
// while another runs waits; a newer one replaces it, so the last one wins.
// Before the application ends, finish() gives the writes still to run a
// bounded time.
class SecretStore : public QObject {
    Q_OBJECT
public:
    // Told on this thread whether the write reached the keyring; a write
    // replaced by a newer one before it began is never told.
    using Done = std::function<void(bool stored)>;

    // Going, the store gives the writes still to run up to finishLimit, so
    // that a save made as the application ends is not lost.
    SecretStore(QString service, QString key, QDBusConnection bus,
                std::chrono::milliseconds finishLimit = std::chrono::milliseconds(0), QObject* parent = nullptr);
    ~SecretStore() override;

    // Whether a keyring service is registered on the session bus or can be
    // started by it. Asks the bus daemon only, never the keyring.
    bool reachable() const;

    // The secret, or Unreachable when no keyring is reachable or none
    // answered within limit. The event loop runs while waiting, without
    // user input and socket notifiers.
    SecretReading read(std::chrono::milliseconds limit);

    // Stores secret, or removes it when nullopt.
    void write(std::optional<std::string> secret, Done done);

    // Runs the event loop until the writes asked for have ended, for at
    // most limit; false when one was left unfinished. Those left are then
    // told that they were not stored, and the waiting one is dropped.
    bool finish(std::chrono::milliseconds limit);

    bool busy() const { return m_running != nullptr || m_waiting.has_value(); }

signals:
    void idle();

private:
    struct Write {
        std::optional<std::string> secret;
        Done done;
    };

    void startNext();
    void onWriteFinished(QKeychain::Job* job);
    void giveUp();
    // Whether the Secret Service holds the secret in a locked collection.
    bool lockedItemRemains() const;

    QString m_service;
    QString m_key;
    QDBusConnection m_bus;
    std::chrono::milliseconds m_finishLimit;
    bool m_gaveUp = false; // a finish() left a write unfinished
    QKeychain::Job* m_running = nullptr;
    Done m_runningDone;
    std::optional<Write> m_waiting;
};
