#include "EncryptStep.h"

#include "ChildProcess.h"
#include "EncryptScript.h"
#include "FileManager.h"
#include "Log.h"
#include "WorkFolders.h"

namespace {

const int kPollMilliseconds = 2000;

} // namespace

EncryptStep::EncryptStep(QObject* parent)
    : QObject(parent)
    , m_expect(new ChildProcess(this))
{
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &EncryptStep::waitForMove);
    // The poll also looks at once when the script ends, so the job does not
    // sit idle until the next firing.
    connect(m_expect, &ChildProcess::ended, this, &EncryptStep::waitForMove);
}

EncryptStep::~EncryptStep() = default;

void EncryptStep::encryptZip(const std::string& destDir, const std::string& password,
                             const std::string& tmpDirectory, const std::string& archiveName,
                             const std::string& outputDirName)
{
    m_archivePath = WorkFolders::archivePath(tmpDirectory, outputDirName, archiveName);
    m_stagingFolder = WorkFolders::stagingFolder(tmpDirectory);
    m_deliveredPath = destDir + "/" + archiveName;
    m_emptyPassword = password.empty();
    const std::string script = EncryptScript::text(destDir, password, tmpDirectory, archiveName, outputDirName);
    if (auto error = m_expect->start("/usr/bin/expect", {"-c", script})) {
        m_startFailed = true;
        Log::line("grant password error:" + *error);
    }
    m_pending = true;
    m_poll.start();
}

void EncryptStep::waitForMove()
{
    if (!m_pending)
        return;
    if (FileManager::exists(m_archivePath)) {
        if (!m_expect->hasEnded())
            return;
        // The script has given up: the archive was not encrypted, or not
        // moved. Nothing unencrypted leaves the staging folder.
        const std::string description = failureDescription();
        if (!m_startFailed)
            Log::line("grant password error:" + description);
        emit finished(removeStagingFolder(JobOutcome::failed(JobPhase::Encrypting, description)));
        return;
    }
    emit finished(removeStagingFolder(JobOutcome::delivered(m_deliveredPath, true)));
}

std::string EncryptStep::failureDescription() const
{
    if (m_expect->succeeded())
        return "the archive was left in the staging folder";
    switch (m_expect->exitCode()) {
    case EncryptScript::kZipcloakFailed:
        return m_emptyPassword ? "zipcloak does not accept an empty password"
                               : "zipcloak failed to encrypt the archive";
    case EncryptScript::kMoveFailed:
        return "the encrypted archive could not be moved to the destination folder";
    default:
        return "expect " + m_expect->exitDescription();
    }
}

JobOutcome EncryptStep::removeStagingFolder(JobOutcome outcome)
{
    m_pending = false;
    m_poll.stop();
    if (auto error = FileManager::removeItem(m_stagingFolder))
        Log::line(*error);
    return outcome;
}
