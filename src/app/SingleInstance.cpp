#include "SingleInstance.h"

#include "ChannelFolder.h"
#include "ChannelRecord.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PathText.h"
#include "PrivateFolder.h"
#include "WorkFolders.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kLockName = "instance.lock";
const char* const kChannelFolderName = "quillmere";
const QByteArray kMagic = QByteArrayLiteral("QMR1");
const char kAcknowledgement = '\x01';

// A running instance that holds the lock but is not yet listening gets this
// long to start; one that took a message gets this long to confirm it.
const int kClaimMilliseconds = 10000;
const int kRetryMilliseconds = 50;
const int kConnectMilliseconds = 2000;
const int kAnswerMilliseconds = 10000;

// Bounds for what a peer may send. A path may be longer than PATH_MAX (a
// start in a folder nested deep enough): the job then says what is wrong
// with it, which a message refused here would leave unsaid. The whole
// message is kept far below what could hurt.
const quint32 kMaxPathBytes = 64 * 1024;
const qsizetype kMaxMessageBytes = 16 * 1024 * 1024;

QString qtPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The socket's name within the channel folder. Each work folder has its
// own, so instances for different home folders of one user neither meet nor
// remove each other's sockets.
std::string socketName(const std::string& workFolder)
{
    const QByteArray digest
        = QCryptographicHash::hash(QByteArray::fromStdString(workFolder), QCryptographicHash::Sha256);
    return "instance-" + digest.left(8).toHex().toStdString() + ".sock";
}

// The recorded folder is checked before connecting, yet whoever managed to
// swap it in between would be the one answering: paths go only to a process
// of this user.
Failure checkPeer(const QLocalSocket& socket, const std::string& path)
{
    ucred peer {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return describeErrno(errno, path);
    if (peer.uid != ::geteuid())
        return "answered by another user: " + path;
    return std::nullopt;
}

bool readNumber(const QByteArray& message, qsizetype& position, quint32& number)
{
    if (message.size() - position < 4)
        return false;
    number = qFromBigEndian<quint32>(message.constData() + position);
    position += 4;
    return true;
}

void appendNumber(QByteArray& message, quint32 number)
{
    char bytes[4];
    qToBigEndian(number, bytes);
    message.append(bytes, 4);
}

} // namespace

SingleInstance::SingleInstance(std::string workFolder, std::vector<std::string> channelFolders,
                               SessionDisplay display, QObject* parent)
    : QObject(parent)
    , m_workFolder(std::move(workFolder))
    , m_channelFolders(std::move(channelFolders))
    , m_display(std::move(display))
{
}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock, so a start in between finds the lock
    // still held and waits.
    stopListening();
}

std::string SingleInstance::defaultFolder()
{
    return WorkFolders::ofCurrentUser().tmpDirectory();
}

std::vector<std::string> SingleInstance::defaultChannelFolders()
{
    std::vector<std::string> folders;
    // Only an absolute path is a runtime folder the desktop session made.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        folders.push_back(std::string(runtime) + "/" + kChannelFolderName);
    folders.push_back("/tmp/" + std::string(kChannelFolderName) + "-" + std::to_string(::geteuid()));
    return folders;
}

SingleInstance::Role SingleInstance::claim(const std::vector<std::string>& paths,
                                           const std::function<bool()>& giveUp, Claim mode)
{
    const bool mayRun = mode == Claim::RunOrHandOver;
    if (Failure error = PrivateFolder::make(m_workFolder)) {
        Log::line(LogPrefix::kInstanceWorkFolder + *error);
        return mayRun ? Role::Alone : Role::NotRunning;
    }
    const QDeadlineTimer deadline(kClaimMilliseconds);
    for (;;) {
        switch (tryLock()) {
        case Lock::Taken:
            if (!mayRun) {
                // Held for a moment only: an instance starting meanwhile
                // waits for it as for one still starting.
                m_lock = UniqueFd();
                return Role::NotRunning;
            }
            openChannel();
            return Role::Primary;
        case Lock::Unavailable:
            // Without a lock no instance listens either.
            return mayRun ? Role::Alone : Role::NotRunning;
        case Lock::HeldElsewhere:
            break;
        }
        switch (handOverToRecorded(paths, giveUp)) {
        case HandOver::Confirmed:
            return Role::HandedOver;
        case HandOver::GivenUp:
            Log::line(LogPrefix::kStoppedWaiting + m_workFolder);
            m_shortfall = Shortfall::GivenUp;
            return Role::Failed;
        case HandOver::Unconfirmed:
            // The message may have arrived: sending it again could make the
            // same archive twice.
            Log::line(LogPrefix::kNotConfirmed + m_socketPath);
            m_shortfall = Shortfall::NotConfirmed;
            return Role::Failed;
        case HandOver::OtherDisplay:
            Log::line(LogPrefix::kOnOtherDisplay + m_runningDisplay.described() + " (this start: "
                      + m_display.described() + ")");
            m_shortfall = Shortfall::OtherDisplay;
            return Role::Failed;
        case HandOver::NotReached:
            break;
        }
        if (giveUp && giveUp()) {
            Log::line(LogPrefix::kStoppedWaiting + m_workFolder);
            m_shortfall = Shortfall::GivenUp;
            return Role::Failed;
        }
        if (deadline.hasExpired()) {
            Log::line(LogPrefix::kNotReached + m_unreachable);
            m_shortfall = Shortfall::NotReached;
            return Role::Failed;
        }
        QThread::msleep(kRetryMilliseconds);
    }
}

SingleInstance::Lock SingleInstance::tryLock()
{
    const std::string path = m_workFolder + "/" + kLockName;
    if (!m_lock.isOpen()) {
        // Close-on-exec: the archive writer and its helpers must never keep
        // the lock alive after this instance has gone.
        m_lock = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!m_lock.isOpen()) {
            Log::line(LogPrefix::kInstanceUnavailable + describeErrno(errno, path));
            return Lock::Unavailable;
        }
    }
    if (::flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    if (errno == EWOULDBLOCK || errno == EINTR)
        return Lock::HeldElsewhere;
    Log::line(LogPrefix::kInstanceUnavailable + describeErrno(errno, path));
    m_lock = UniqueFd();
    return Lock::Unavailable;
}

void SingleInstance::openChannel()
{
    const ChannelRecord record(m_workFolder);
    // Holding the lock, whatever record is there was left by an instance
    // that has ended: until this one records its own, later starts must
    // find none, not an ended instance's display.
    record.remove();
    // A folder that is there but takes no socket (its file system out of
    // room or inodes, or read-only) gives way to the next, as one that
    // cannot be made does: otherwise every later start would be told that
    // this instance does not answer, for as long as that folder stays full.
    std::vector<std::string> candidates = m_channelFolders;
    bool listening = false;
    while (!candidates.empty()) {
        m_channel = std::make_unique<ChannelFolder>(candidates, socketName(m_workFolder));
        m_socketPath = m_channel->socketPath();
        // A fresh folder beside the last candidate is the last resort.
        const auto used = std::find(candidates.begin(), candidates.end(), PathText::parentFolder(m_socketPath));
        const bool another = used != candidates.end() && used + 1 != candidates.end();
        listening = listen(another ? LogPrefix::kChannelNotListening : LogPrefix::kInstanceCannotListen);
        if (listening || !another)
            break;
        candidates.erase(candidates.begin(), used + 1);
    }
    if (!listening) {
        // Without a channel this instance still runs, and later starts say
        // that they cannot reach it rather than stage beside it; a record
        // left by an instance that died must not send them elsewhere.
        record.remove();
        m_channel.reset();
        m_socketPath.clear();
        return;
    }
    if (Failure error = record.write(m_socketPath, m_display)) {
        Log::line(LogPrefix::kInstanceNotRecorded + *error);
        record.remove();
    }
}

bool SingleInstance::listen(const char* failurePrefix)
{
    if (m_socketPath.empty())
        return false;
    // Holding the lock, whatever socket file is there was left by an
    // instance that has ended.
    const QString path = qtPath(m_socketPath);
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        Log::line(failurePrefix + m_socketPath + ": "
                  + m_server->errorString().toStdString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
    // Once the application is ending no message would be served: later
    // starts wait for the lock instead, and then run on their own.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SingleInstance::stopListening);
    return true;
}

void SingleInstance::stopListening()
{
    if (!m_server)
        return;
    // Closing the server removes its socket file, which must be gone before
    // a fresh folder can go.
    delete m_server;
    m_server = nullptr;
    ChannelRecord(m_workFolder).remove();
    m_channel.reset();
}

SingleInstance::HandOver SingleInstance::handOverToRecorded(const std::vector<std::string>& paths,
                                                            const std::function<bool()>& giveUp)
{
    // Read again on every attempt: the running instance records its channel
    // only once it listens.
    std::string socketPath;
    SessionDisplay display;
    Failure refused = ChannelRecord(m_workFolder).read(socketPath, display);
    if (!refused)
        refused = ChannelFolder::checkStillPrivate(socketPath);
    if (refused) {
        m_unreachable = *refused;
        return HandOver::NotReached;
    }
    m_socketPath = socketPath;
    m_runningDisplay = display;
    return handOver(paths, giveUp);
}

SingleInstance::HandOver SingleInstance::handOver(const std::vector<std::string>& paths,
                                                  const std::function<bool()>& giveUp)
{
    QLocalSocket socket;
    socket.connectToServer(qtPath(m_socketPath));
    if (!socket.waitForConnected(kConnectMilliseconds)) {
        m_unreachable = "no answer at " + m_socketPath;
        return HandOver::NotReached;
    }
    if (Failure refused = checkPeer(socket, m_socketPath)) {
        m_unreachable = *refused;
        return HandOver::NotReached;
    }
    // Told only once the recorded instance is known to run: a record left
    // behind must not turn a start away.
    if (m_display.isOtherThan(m_runningDisplay))
        return HandOver::OtherDisplay;
    socket.write(encode(paths));
    // Waited for in short steps: a signal ends the wait for an instance
    // that is stopped or busy at once.
    const QDeadlineTimer deadline(kAnswerMilliseconds);
    while (socket.bytesToWrite() > 0 || socket.bytesAvailable() < 1) {
        if (giveUp && giveUp())
            return HandOver::GivenUp;
        if (deadline.hasExpired() || socket.state() != QLocalSocket::ConnectedState)
            return HandOver::Unconfirmed;
        const int step = int(std::min<qint64>(deadline.remainingTime(), kRetryMilliseconds));
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(step);
        else
            socket.waitForReadyRead(step);
    }
    char answer = 0;
    socket.read(&answer, 1);
    return answer == kAcknowledgement ? HandOver::Confirmed : HandOver::Unconfirmed;
}

void SingleInstance::serve(QLocalSocket* socket)
{
    auto received = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
        received->append(socket->readAll());
        std::vector<std::string> paths;
        switch (decode(*received, paths)) {
        case Parse::Incomplete:
            return;
        case Parse::Invalid:
            Log::line(LogPrefix::kMalformedMessage + m_socketPath);
            socket->disconnect(this);
            socket->abort();
            return;
        case Parse::Complete:
            break;
        }
        socket->disconnect(this);
        // Confirmed before the work starts, so the other start can end at
        // once however long the copying takes.
        socket->write(&kAcknowledgement, 1);
        socket->flush();
        socket->disconnectFromServer();
        deliver(paths);
    });
}

void SingleInstance::deliver(const std::vector<std::string>& paths)
{
    if (paths.empty())
        emit activationRequested();
    else
        emit filesReceived(paths);
}

QByteArray SingleInstance::encode(const std::vector<std::string>& paths)
{
    QByteArray message = kMagic;
    appendNumber(message, quint32(paths.size()));
    for (const std::string& path : paths) {
        appendNumber(message, quint32(path.size()));
        message.append(path.data(), qsizetype(path.size()));
    }
    return message;
}

SingleInstance::Parse SingleInstance::decode(const QByteArray& message, std::vector<std::string>& paths)
{
    if (message.size() > kMaxMessageBytes)
        return Parse::Invalid;
    if (message.size() < kMagic.size())
        return kMagic.startsWith(message) ? Parse::Incomplete : Parse::Invalid;
    if (!message.startsWith(kMagic))
        return Parse::Invalid;
    qsizetype position = kMagic.size();
    quint32 count = 0;
    if (!readNumber(message, position, count))
        return Parse::Incomplete;
    paths.clear();
    for (quint32 index = 0; index < count; ++index) {
        quint32 length = 0;
        if (!readNumber(message, position, length))
            return Parse::Incomplete;
        if (length == 0 || length > kMaxPathBytes)
            return Parse::Invalid;
        if (message.size() - position < qsizetype(length))
            return Parse::Incomplete;
        paths.emplace_back(message.constData() + position, length);
        position += length;
    }
    return position == message.size() ? Parse::Complete : Parse::Invalid;
}
