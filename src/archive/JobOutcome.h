#pragma once

#include "JobReport.h"

#include <algorithm>
#include <cstdint>
#include <string>

// The phases a running job goes through, for whoever shows its progress;
// a failed job names the phase it failed in.
enum class JobPhase {
    ChoosingFolder,
    Copying,
    Writing,
    Encrypting,
    Verifying,
    Delivering,
};

// How far the running job is, for whoever shows it.
struct JobProgress {
    JobPhase phase = JobPhase::Copying;
    double fraction = 0; // of the phase, 0 to 1
    // The item being compressed, as a path below the given items ("資料/見積書.txt");
    // empty outside the writing.
    std::string item;
    bool encrypted = false; // the job has an encrypting phase
    // A plain job's archive is copied into another file system (a USB
    // stick, a network share): delivering takes time of its own.
    bool copiedAcross = false;
    // An encrypted job's archive is on its way into another file system:
    // mv's copy, the end of the encrypting.
    bool copyingOut = false;

    // The phase the user is told of: an encrypted job copying its archive
    // out is saving it, as a plain one is, though its bar stays the
    // encrypting's.
    JobPhase shownPhase() const { return copyingOut ? JobPhase::Delivering : phase; }
};

// Why a job failed, as far as the user can do something about it; the
// outcome's description carries the technical detail.
enum class FailureCause {
    Other,
    WriterMissing,          // php, or its zip extension, is not installed
    EncryptorMissing,       // expect or zipcloak is not installed
    DestinationNotWritable, // the destination folder refuses new files, or is gone
    DestinationFull,        // no space left in the destination folder
    DestinationFileTooLarge, // the destination's file system holds no file as large as the archive (FAT: 4 GB)
    NothingToArchive,       // none of the items can go into the archive
    WorkFolderRefused,      // ~/.quillmere is a link or belongs to someone else
    PasswordRefused,        // empty, a character outside code page 932, over 80 bytes, or control characters
    VerificationFailed,     // the written archive did not read back as expected
    WorkFolderFull,         // no space left in ~/.quillmere for the staged copies or the archive
    WorkFolderFailed,       // ~/.quillmere failed otherwise (an input/output error, read-only)
    ItemChanged,            // a file was removed, renamed, replaced or changed while the job read it
    DestinationInWorkFolder, // the destination lies in ~/.quillmere or the folder in memory
    DestinationPathTooLong, // the destination's path, or an archive's in it, is longer than the system takes
    OptionsUnreadable,      // the settings file cannot be read and the command line does not say whether to encrypt
    SystemLimit,            // too many open files, or no memory: the system's limits, not the items
};

// What a job tells whoever started it when it has ended.
struct JobOutcome {
    enum class Kind {
        Delivered, // archivePath holds the delivered archive
        Failed,    // failedIn, cause and description say what went wrong
        Cancelled, // the user cancelled the folder chooser: nothing to say
        Stopped,   // the user stopped the job: nothing was delivered
    };

    Kind kind = Kind::Failed;
    std::string archivePath;
    bool encrypted = false;
    JobPhase failedIn = JobPhase::Writing;
    FailureCause cause = FailureCause::Other;
    std::string description;
    // For a shortage of space: the folder that lacks it and how much more
    // the job needs (0 when unknown).
    std::string spaceFolder;
    uint64_t bytesMissing = 0;
    // What went into the archive and what did not; filled as far as the
    // job got.
    JobReport report;
    // The name of the job's first item, which names the job in messages
    // (set by the queue).
    std::string firstItem;

    static JobOutcome delivered(const std::string& path, bool encrypted, JobReport report = {})
    {
        JobOutcome outcome;
        outcome.kind = Kind::Delivered;
        outcome.archivePath = path;
        outcome.encrypted = encrypted;
        outcome.failedIn = JobPhase::Delivering;
        outcome.report = std::move(report);
        return outcome;
    }
    static JobOutcome failed(JobPhase phase, const std::string& description,
                             FailureCause cause = FailureCause::Other)
    {
        JobOutcome outcome;
        outcome.failedIn = phase;
        outcome.cause = cause;
        outcome.description = description;
        return outcome;
    }
    static JobOutcome cancelled()
    {
        JobOutcome outcome;
        outcome.kind = Kind::Cancelled;
        outcome.failedIn = JobPhase::ChoosingFolder;
        return outcome;
    }
    static JobOutcome stopped(JobPhase phase)
    {
        JobOutcome outcome;
        outcome.kind = Kind::Stopped;
        outcome.failedIn = phase;
        return outcome;
    }

    // Delivered, but something the user gave is not in the archive (an
    // item given twice is in it once: nothing is lost).
    bool lostSomething() const
    {
        return kind == Kind::Delivered
            && std::any_of(report.leftOut.begin(), report.leftOut.end(),
                           [](const LeftOutItem& item) { return item.reason != LeftOutReason::SameItem; });
    }
};
