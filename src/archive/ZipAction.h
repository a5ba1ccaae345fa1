#pragma once

#include "FolderChooser.h"
#include "JobOutcome.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class ChildProcess;
class EncryptStep;

// One archive job: stages the items under the home folder, builds the
// Windows-safe tree, has php write the archive and delivers it into the
// destination folder, encrypted when asked. Create it with new: the job
// deletes itself once it has reported its end through finished().
class ZipAction : public QObject {
    Q_OBJECT
public:
    using Paths = std::vector<std::string>;

    explicit ZipAction(ChooseFolder chooseFolder = {}, QObject* parent = nullptr);
    ~ZipAction() override;

    // Runs the job into destDir (a folder path without a trailing "/").
    virtual void createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                           const std::string& password);
    // Asks for the destination folder first; cancelling ends the job.
    virtual void selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                       const std::string& password);

    // Ends the job where it is: its programs and everything they started
    // end, the staging folder goes, nothing is delivered, and finished()
    // reports it as stopped.
    void stop();

    // The first free name of "archive.zip", "archive1.zip", ... in destDir.
    static std::string freeArchiveName(const std::string& destDir);

signals:
    void phaseChanged(JobPhase phase);
    // How far the job is, 0 to 100.
    void progressChanged(int percent);
    void finished(const JobOutcome& outcome);

private:
    // Copies the items into a fresh staging folder and builds the content
    // folder. Runs on a worker thread, so it touches no member.
    static void stageItems(const Paths& paths, const std::string& tmpDirectory,
                           const std::shared_ptr<std::atomic_bool>& abandoned);
    void onStaged();
    void startWriter();
    void waitForArchive();
    void deliver();
    // Where the writer puts the archive, in the output folder.
    std::string outputArchivePath() const;
    void finish(const JobOutcome& outcome);

    ChooseFolder m_chooseFolder;
    QTimer m_poll;
    ChildProcess* m_writer = nullptr;
    EncryptStep* m_encryptStep = nullptr;
    bool m_found = false;
    bool m_finished = false;
    std::string m_tmpDirectory;
    std::string m_archiveName;
    std::string m_destDir;
    bool m_isEncrypt = false;
    std::string m_password;
    // Set when the job goes away while its items are still being copied.
    std::shared_ptr<std::atomic_bool> m_abandoned = std::make_shared<std::atomic_bool>(false);
};
