#include "SecretStore.h"

#include "Log.h"
#include "LogPrefix.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

// The bus daemon answers at once; this bounds a daemon that is stuck.
constexpr int kBusQueryTimeoutMs = 1000;

// The names under which a keyring QtKeychain can use may be on the bus.
const QStringList& keyringNames()
{
    static const QStringList names{"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"};
    return names;
}

QDBusMessage askBus(const QDBusConnection& bus, const QString& method, const QVariantList& arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, kBusQueryTimeoutMs);
}

bool nameHasOwner(const QDBusConnection& bus, const QString& name)
{
    const QDBusMessage reply = askBus(bus, "NameHasOwner", {name});
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().front().toBool();
}

QStringList activatableNames(const QDBusConnection& bus)
{
    const QDBusMessage reply = askBus(bus, "ListActivatableNames", {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().toStringList();
}

// While waiting, neither the user nor a socket (another start handing over
// files, a job's programs) gets a turn: nothing can come back into the
// store's caller before the answer is there.
constexpr QEventLoop::ProcessEventsFlags kWaitFlags{QEventLoop::ExcludeUserInputEvents
                                                   | QEventLoop::ExcludeSocketNotifiers};

} // namespace

SecretStore::SecretStore(QString service, QString key, QDBusConnection bus, std::chrono::milliseconds finishLimit,
                         QObject* parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_key(std::move(key))
    , m_bus(std::move(bus))
    , m_finishLimit(finishLimit)
{
}

SecretStore::~SecretStore()
{
    if (m_finishLimit.count() > 0)
        finish(m_finishLimit);
    // A job still running deletes itself when it ends; it must not call us.
    if (m_running)
        m_running->disconnect(this);
}

bool SecretStore::lockedItemRemains() const
{
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(registered);
    QDBusMessage message = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                          "org.freedesktop.Secret.Service", "SearchItems");
    // The attributes QtKeychain gives the password.
    message << QVariant::fromValue(QMap<QString, QString>{{"server", m_service}, {"user", m_key}});
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, kBusQueryTimeoutMs);
    // KWallet, or no answer: the job's word is all there is.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return false;
    return !qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1)).isEmpty();
}

bool SecretStore::reachable() const
{
    if (!m_bus.isConnected())
        return false;
    for (const QString& name : keyringNames()) {
        if (nameHasOwner(m_bus, name))
            return true;
    }
    const QStringList activatable = activatableNames(m_bus);
    for (const QString& name : keyringNames()) {
        if (activatable.contains(name))
            return true;
    }
    return false;
}

SecretReading SecretStore::read(std::chrono::milliseconds limit)
{
    if (!reachable())
        return {};
    auto* job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(m_key);
    job->setAutoDelete(true);
    std::optional<SecretReading> reading;
    QEventLoop loop;
    connect(job, &QKeychain::Job::finished, &loop, [&reading, &loop](QKeychain::Job* finished) {
        const auto* readJob = static_cast<QKeychain::ReadPasswordJob*>(finished);
        if (readJob->error() == QKeychain::NoError) {
            reading = SecretReading{SecretReading::Result::Found, readJob->textData().toStdString()};
        } else if (readJob->error() == QKeychain::EntryNotFound) {
            reading = SecretReading{SecretReading::Result::Absent, {}};
        } else {
            Log::line(LogPrefix::kKeyring + readJob->errorString().toStdString());
            reading = SecretReading{};
        }
        loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    job->start();
    if (!reading)
        loop.exec(kWaitFlags);
    if (!reading) {
        // The job ends on its own later and deletes itself.
        job->disconnect(&loop);
        Log::line(LogPrefix::kKeyring + std::string("no answer within ") + std::to_string(limit.count()) + " ms");
        return {};
    }
    return *reading;
}

void SecretStore::write(std::optional<std::string> secret, Done done)
{
    m_waiting = Write{std::move(secret), std::move(done)};
    if (!m_running)
        startNext();
}

void SecretStore::startNext()
{
    if (!m_waiting) {
        emit idle();
        return;
    }
    Write next = std::move(*m_waiting);
    m_waiting.reset();
    QKeychain::Job* job = nullptr;
    if (next.secret) {
        auto* writeJob = new QKeychain::WritePasswordJob(m_service);
        writeJob->setTextData(QString::fromStdString(*next.secret));
        job = writeJob;
    } else {
        job = new QKeychain::DeletePasswordJob(m_service);
    }
    job->setKey(m_key);
    job->setAutoDelete(true);
    m_running = job;
    m_runningDone = std::move(next.done);
    connect(job, &QKeychain::Job::finished, this, &SecretStore::onWriteFinished);
    job->start();
}

void SecretStore::onWriteFinished(QKeychain::Job* job)
{
    const bool removal = qobject_cast<QKeychain::DeletePasswordJob*>(job) != nullptr;
    bool stored = job->error() == QKeychain::NoError;
    if (removal && (stored || job->error() == QKeychain::EntryNotFound)) {
        // Removing what is not there leaves the keyring as asked; but a
        // locked keyring hides its items, and the removal says it is done
        // (or found nothing) while the password stays.
        stored = !lockedItemRemains();
        if (!stored)
            Log::line(LogPrefix::kKeyring + std::string("the password was not removed: the keyring is locked"));
    } else if (!stored) {
        Log::line(LogPrefix::kKeyring + job->errorString().toStdString());
    }
    m_running = nullptr;
    const Done done = std::move(m_runningDone);
    m_runningDone = nullptr;
    if (done)
        done(stored);
    // done may have asked for another write, which then already runs.
    if (!m_running)
        startNext();
}

void SecretStore::giveUp()
{
    // Told as refused, so that the caller keeps the password elsewhere; the
    // running job, should it end later, has no one left to tell.
    const Done running = std::move(m_runningDone);
    m_runningDone = nullptr;
    std::optional<Write> waiting = std::move(m_waiting);
    m_waiting.reset();
    if (running)
        running(false);
    if (waiting && waiting->done)
        waiting->done(false);
}

bool SecretStore::finish(std::chrono::milliseconds limit)
{
    if (!busy())
        return true;
    // Given up once: the keyring had its time, and it was told.
    if (m_gaveUp)
        return false;
    QEventLoop loop;
    connect(this, &SecretStore::idle, &loop, &QEventLoop::quit);
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec(kWaitFlags);
    if (busy()) {
        Log::line(LogPrefix::kKeyring + std::string("a password write was left unfinished at quit"));
        m_gaveUp = true;
        giveUp();
        return false;
    }
    return true;
}
