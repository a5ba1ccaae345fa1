#pragma once

#include <string>

// The phases a running job goes through, for whoever shows its progress;
// a failed job names the phase it failed in.
enum class JobPhase {
    ChoosingFolder,
    Copying,
    Writing,
    Encrypting,
    Delivering,
};

// What a job tells whoever started it when it has ended.
struct JobOutcome {
    enum class Kind {
        Delivered, // archivePath holds the delivered archive
        Failed,    // failedIn and description say what went wrong
        Cancelled, // the user cancelled the folder chooser
    };

    Kind kind = Kind::Failed;
    std::string archivePath;
    bool encrypted = false;
    JobPhase failedIn = JobPhase::Writing;
    std::string description;

    static JobOutcome delivered(const std::string& path, bool encrypted)
    {
        return {Kind::Delivered, path, encrypted, JobPhase::Delivering, {}};
    }
    static JobOutcome failed(JobPhase phase, const std::string& description)
    {
        return {Kind::Failed, {}, false, phase, description};
    }
    static JobOutcome cancelled() { return {Kind::Cancelled, {}, false, JobPhase::ChoosingFolder, {}}; }
};
