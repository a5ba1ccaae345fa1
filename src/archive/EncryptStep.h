#pragma once

#include "JobOutcome.h"

#include <QObject>
#include <QTimer>

#include <string>

class ChildProcess;

// Protects the finished archive with the job's password and delivers it:
// expect drives zipcloak and mv, and a 2-second poll clears the staging
// folder once the archive has left the output folder.
class EncryptStep : public QObject {
    Q_OBJECT
public:
    explicit EncryptStep(QObject* parent = nullptr);
    ~EncryptStep() override;

    void encryptZip(const std::string& destDir, const std::string& password, const std::string& tmpDirectory,
                    const std::string& archiveName, const std::string& outputDirName);

signals:
    void finished(const JobOutcome& outcome);

private:
    void waitForMove();
    std::string failureDescription() const;
    JobOutcome removeStagingFolder(JobOutcome outcome);

    QTimer m_poll;
    ChildProcess* m_expect = nullptr;
    bool m_pending = false;
    bool m_startFailed = false;
    bool m_emptyPassword = false;
    std::string m_archivePath;
    std::string m_stagingFolder;
    std::string m_deliveredPath;
};
