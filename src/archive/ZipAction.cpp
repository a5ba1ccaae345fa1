#include "ZipAction.h"

#include "ChildProcess.h"
#include "EncryptStep.h"
#include "FileManager.h"
#include "PathText.h"
#include "Log.h"
#include "Util.h"
#include "WorkFolders.h"
#include "WriterCommand.h"
#include "ZipEntryFlags.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const int kPollMilliseconds = 200;

} // namespace

ZipAction::ZipAction(ChooseFolder chooseFolder, QObject* parent)
    : QObject(parent)
    , m_chooseFolder(std::move(chooseFolder))
{
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &ZipAction::waitForArchive);
}

ZipAction::~ZipAction()
{
    m_abandoned->store(true);
}

void ZipAction::createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                          const std::string& password)
{
    m_destDir = destDir;
    m_isEncrypt = isEncrypt;
    m_password = password;
    m_tmpDirectory = WorkFolders::tmpDirectory(FileManager::homeDirectory());
    Log::line("tmpDirectory: " + m_tmpDirectory);
    emit phaseChanged(JobPhase::Copying);
    // Copying a large tree takes a while: it runs off the main thread so the
    // window stays responsive; the writer, the polls and the encryption step
    // stay on the main thread.
    auto* staged = new QFutureWatcher<void>(this);
    connect(staged, &QFutureWatcher<void>::finished, this, &ZipAction::onStaged);
    staged->setFuture(QtConcurrent::run(&ZipAction::stageItems, paths, m_tmpDirectory, m_abandoned));
}

void ZipAction::onStaged()
{
    m_archiveName = freeArchiveName(m_destDir);
    startWriter();
}

void ZipAction::selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                      const std::string& password)
{
    emit phaseChanged(JobPhase::ChoosingFolder);
    if (!m_chooseFolder) {
        finish(JobOutcome::failed(JobPhase::ChoosingFolder, "no folder chooser is available"));
        return;
    }
    QPointer<ZipAction> self(this);
    m_chooseFolder([self, paths, destDir, isEncrypt, password](bool accepted, const std::string& folder) {
        if (!self)
            return;
        if (!accepted) {
            self->finish(JobOutcome::cancelled());
            return;
        }
        self->createZip(paths, folder.empty() ? destDir : folder, isEncrypt, password);
    });
}

void ZipAction::stop()
{
    if (m_finished)
        return;
    m_abandoned->store(true);
    delete m_writer;
    m_writer = nullptr;
    delete m_encryptStep;
    m_encryptStep = nullptr;
    if (!m_tmpDirectory.empty())
        FileManager::removeItem(WorkFolders::stagingFolder(m_tmpDirectory));
    finish(JobOutcome::stopped(JobPhase::Writing));
}

std::string ZipAction::freeArchiveName(const std::string& destDir)
{
    for (int n = 0;; ++n) {
        const std::string candidate = "archive" + (n == 0 ? std::string() : std::to_string(n)) + ".zip";
        if (!FileManager::exists(destDir + "/" + candidate))
            return candidate;
    }
}

void ZipAction::stageItems(const Paths& paths, const std::string& tmpDirectory,
                           const std::shared_ptr<std::atomic_bool>& abandoned)
{
    const std::string staging = WorkFolders::stagingFolder(tmpDirectory);
    if (FileManager::exists(staging) && FileManager::removeItem(staging))
        Log::line("move archive.zip error");
    // The work root is private: the staged files are the user's.
    if (!FileManager::exists(tmpDirectory))
        FileManager::createDirectory(tmpDirectory, 0700);
    if (auto error = FileManager::createDirectory(staging))
        Log::line("create dir error:" + *error);
    for (const std::string& path : paths) {
        if (abandoned->load())
            return;
        const std::string target = staging + "/" + PathText::lastComponent(path);
        if (auto error = FileManager::copyItem(path, target, FileManager::FileData::LinkWherePossible))
            Log::line("copy file or directories error:" + *error + ", error file Path: " + path);
    }
    if (abandoned->load())
        return;
    Util::fixProhibitedCharacters(staging, WorkFolders::OUTPUT_DIR_NAME);
}

void ZipAction::startWriter()
{
    emit phaseChanged(JobPhase::Writing);
    m_writer = new ChildProcess(this);
    // When the writer ends the poll looks at once instead of at its next
    // firing.
    connect(m_writer, &ChildProcess::ended, this, &ZipAction::waitForArchive);
    if (auto error = m_writer->start("/bin/sh", {"-c", WriterCommand::text(m_tmpDirectory, m_archiveName)}))
        Log::line("convert charset and create zip error:" + *error);
    m_found = false;
    m_poll.start();
}

void ZipAction::waitForArchive()
{
    if (m_found || m_finished)
        return;
    const std::string archivePath = outputArchivePath();
    Log::line("in scheduledTimer");
    Log::line(archivePath);
    if (!FileManager::exists(archivePath)) {
        if (m_writer->hasEnded()) {
            // php writes the archive before it exits: no archive now means
            // none will come.
            const std::string description = "the writer ended with " + m_writer->exitDescription()
                + " and wrote no archive";
            Log::line("convert charset and create zip error:" + description);
            m_poll.stop();
            finish(JobOutcome::failed(JobPhase::Writing, description));
        }
        return;
    }
    m_found = true;
    m_poll.stop();
    if (auto error = ZipEntryFlags::clearUtf8Names(archivePath))
        Log::line("convert charset and create zip error:" + *error);
    deliver();
}

void ZipAction::deliver()
{
    if (m_isEncrypt) {
        emit phaseChanged(JobPhase::Encrypting);
        m_encryptStep = new EncryptStep(this);
        connect(m_encryptStep, &EncryptStep::finished, this, &ZipAction::finish);
        m_encryptStep->encryptZip(m_destDir, m_password, m_tmpDirectory, m_archiveName, WorkFolders::OUTPUT_DIR_NAME);
        return;
    }
    const std::string archivePath = outputArchivePath();
    const std::string destination = m_destDir + "/" + m_archiveName;
    if (auto error = FileManager::moveItem(archivePath, destination)) {
        Log::line("copy file or directories error:" + *error + ", error file Path: " + m_destDir);
        finish(JobOutcome::failed(JobPhase::Delivering, *error));
        return;
    }
    finish(JobOutcome::delivered(destination, false));
}

std::string ZipAction::outputArchivePath() const
{
    return WorkFolders::archivePath(m_tmpDirectory, WorkFolders::OUTPUT_DIR_NAME, m_archiveName);
}

void ZipAction::finish(const JobOutcome& outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_poll.stop();
    emit finished(outcome);
    deleteLater();
}
