#pragma once

#include "JobOutcome.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>

class ChildProcess;
class Cp932Name;

// Protects the finished archive with the job's password and moves it out
// of the output folder: expect drives zipcloak and then mv. The step has
// succeeded only when expect has ended with status 0 and the archive is at
// its target; a 2-second poll, and the end of expect, look.
class EncryptStep : public QObject {
    Q_OBJECT
public:
    explicit EncryptStep(QObject* parent = nullptr);
    ~EncryptStep() override;

    // Encrypts the archive at archivePath and moves it to target, a name
    // that is free in the destination folder.
    // password: the bytes zipcloak is to be given, code page 932.
    void encryptZip(const std::string& archivePath, const std::string& target, const std::string& password);

    // Ends expect and everything it started; programEnded() follows.
    void stopProgram();
    bool isProgramRunning() const;
    // Blocks until the program has ended, at most milliseconds: for a job
    // that goes with the ending application. True when it has.
    bool waitForProgram(int milliseconds);
    // zipcloak is done, and mv copies the archive into the destination
    // folder on another disk (told by the progressChanged that follows).
    bool isCopyingOut() const { return m_copyingOut; }

    // A line of expect's output as the user can read it: an entry's name
    // read as code page 932, other text as it is.
    static std::string readable(const std::string& line, const Cp932Name& converter);

    // How its failures are told where the system gave no words; the window
    // says the same in Japanese. expect's own end follows kExpect.
    static constexpr const char* kNotPlaced = "the archive could not be moved to the destination folder under a free name";
    static constexpr const char* kNotEncrypted = "zipcloak failed to encrypt the archive";
    static constexpr const char* kScriptStopped = "the encryption script stopped: ";
    static constexpr const char* kNotMoved = "the encrypted archive could not be moved to the destination folder";
    static constexpr const char* kExpect = "expect ";

signals:
    // How far zipcloak's reading of the archive, and mv's where it copies
    // it, have come, 0 to 1.
    void progressChanged(double fraction);
    void succeeded();
    void failed(const JobOutcome& outcome);
    // expect has ended, whether it succeeded, failed or was stopped.
    void programEnded();

private:
    void waitForMove();
    void reportProgress();
    // Notes the copy where line is expect's word that mv copies.
    void noteCopyOut(const std::string& line);
    std::string failureDescription() const;
    FailureCause failureCause() const;

    QTimer m_poll;
    // Progress is told more often than the archive is looked for.
    QTimer m_progressPoll;
    ChildProcess* m_expect = nullptr;
    bool m_pending = false;
    bool m_started = false;
    // The last line expect wrote: where the script stopped, what it says.
    std::string m_lastLine;
    bool m_startFailed = false;
    std::string m_archivePath;
    std::string m_target;
    uint64_t m_archiveBytes = 0;
    // How often expect's programs read the whole archive.
    uint64_t m_readsOfArchive = 1;
    bool m_copyingOut = false;
};
