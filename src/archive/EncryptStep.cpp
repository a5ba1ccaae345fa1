#include "EncryptStep.h"

#include "BackgroundTask.h"
#include "ChildProcess.h"
#include "Cp932Name.h"
#include "Delivery.h"
#include "EncryptScript.h"
#include "Failure.h"
#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PathText.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

const int kPollMilliseconds = 2000;
const int kProgressMilliseconds = 250;

} // namespace

EncryptStep::EncryptStep(QObject* parent)
    : QObject(parent)
    , m_expect(new ChildProcess(this))
{
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &EncryptStep::waitForMove);
    m_progressPoll.setInterval(kProgressMilliseconds);
    connect(&m_progressPoll, &QTimer::timeout, this, &EncryptStep::reportProgress);
    // The poll also looks at once when the script ends, so the job does not
    // sit idle until the next firing.
    connect(m_expect, &ChildProcess::ended, this, &EncryptStep::waitForMove);
    connect(m_expect, &ChildProcess::ended, this, &EncryptStep::programEnded, Qt::QueuedConnection);
    // expect repeats what zipcloak writes to its terminal, the names of the
    // archive's entries among it: raw, a name could hold a terminal's
    // control sequences. Each line goes out as the application's own.
    m_expect->passOutputLinesTo([this, converter = std::make_shared<Cp932Name>()](const std::string& line) {
        m_lastLine = readable(line, *converter);
        Log::line(m_lastLine);
        noteCopyOut(line);
    });
}

std::string EncryptStep::readable(const std::string& line, const Cp932Name& converter)
{
    // zipcloak's channel is binary: expect writes each byte zipcloak wrote
    // as the character U+0000 to U+00FF, in UTF-8. The entries' names in
    // its "encrypting: " lines are code page 932 bytes, which that gives
    // back. Other lines (expect's own, paths in messages) are UTF-8 text
    // and stay as they are.
    if (!line.starts_with("encrypting: "))
        return line;
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
        return line;
    const QByteArray bytes = text.toLatin1();
    const std::string cp932(bytes.constData(), static_cast<size_t>(bytes.size()));
    const std::string utf8 = converter.toUtf8(cp932);
    // What does not read as code page 932 is shown as expect wrote it.
    return utf8 == cp932 ? line : utf8;
}

EncryptStep::~EncryptStep() = default;

// Onto another disk mv copies the archive, which on a stick or a share can
// take longer than the encrypting: the job then tells that it is saving.
void EncryptStep::noteCopyOut(const std::string& line)
{
    if (m_copyingOut || m_readsOfArchive < 2 || !line.starts_with(EncryptScript::kMoveCommand))
        return;
    m_copyingOut = true;
    reportProgress();
}

void EncryptStep::encryptZip(const std::string& archivePath, const std::string& target, const std::string& password)
{
    m_archivePath = archivePath;
    m_target = target;
    m_archiveBytes = FileManager::sizeOf(archivePath);
    // zipcloak reads the archive once, and mv reads it again when it
    // copies it onto another disk (a stick, a share).
    m_readsOfArchive = Delivery::isOnAnotherDisk(PathText::parentFolder(target), archivePath) ? 2 : 1;
    m_copyingOut = false;
    m_started = true;
    emit progressChanged(0);
    const std::string script = EncryptScript::text(archivePath, target);
    // Told with the other failures, by whoever works out their cause.
    if (m_expect->start("/usr/bin/expect", {"-c", script},
                        {std::string(EncryptScript::kPasswordVariable) + "=" + EncryptScript::hexOf(password)}))
        m_startFailed = true;
    m_pending = true;
    m_poll.start();
    m_progressPoll.start();
}

void EncryptStep::stopProgram()
{
    m_pending = false;
    m_poll.stop();
    m_progressPoll.stop();
    m_expect->terminate();
}

bool EncryptStep::isProgramRunning() const
{
    return m_started && !m_expect->hasEnded();
}

void EncryptStep::waitForMove()
{
    if (!m_pending)
        return;
    if (!m_expect->hasEnded()) {
        reportProgress();
        return;
    }
    m_pending = false;
    m_poll.stop();
    m_progressPoll.stop();
    // The archive having left the output folder proves nothing: zipcloak
    // itself replaces it while it works. Only expect's own word, and the
    // archive at its target, do.
    if (m_expect->succeeded() && FileManager::exists(m_target) && !FileManager::exists(m_archivePath)) {
        emit progressChanged(1);
        emit succeeded();
        return;
    }
    emit failed(JobOutcome::failed(JobPhase::Encrypting, failureDescription(), failureCause()));
}

void EncryptStep::reportProgress()
{
    if (m_pending && !m_expect->hasEnded() && m_archiveBytes > 0)
        emit progressChanged(
            std::min(0.99, double(m_expect->bytesRead()) / double(m_archiveBytes * m_readsOfArchive)));
}

std::string EncryptStep::failureDescription() const
{
    if (m_startFailed)
        return kExpect + m_expect->exitDescription();
    if (m_expect->succeeded())
        return kNotPlaced;
    switch (m_expect->exitCode()) {
    case EncryptScript::kZipcloakFailed:
        return kNotEncrypted;
    case EncryptScript::kScriptFailed:
        return kScriptStopped + m_lastLine;
    case EncryptScript::kMoveFailed:
        // What is missing then is the destination folder, not the archive.
        if (!FileManager::exists(PathText::parentFolder(m_target)))
            return describeErrno(ENOENT, PathText::parentFolder(m_target));
        return kNotMoved;
    default:
        return kExpect + m_expect->exitDescription();
    }
}

FailureCause EncryptStep::failureCause() const
{
    if (m_startFailed && m_expect->startHitSystemLimit())
        return FailureCause::SystemLimit;
    // expect's event loop aborts where it cannot start its thread.
    if (!m_startFailed && m_expect->exitCode() < 0 && BackgroundTask::threadStartFailure())
        return FailureCause::SystemLimit;
    if (m_startFailed || QStandardPaths::findExecutable("zipcloak").isEmpty())
        return FailureCause::EncryptorMissing;
    if (m_expect->exitCode() == EncryptScript::kMoveFailed)
        return Delivery::destinationCause(PathText::parentFolder(m_target), m_archiveBytes);
    return FailureCause::Other;
}

bool EncryptStep::waitForProgram(int milliseconds)
{
    return !m_started || m_expect->waitForEnded(milliseconds);
}
