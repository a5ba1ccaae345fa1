#pragma once

#include <string>

// What a job tells whoever started it when it has ended.
struct JobOutcome {
    enum class Kind {
        Delivered, // archivePath holds the delivered archive
        Failed,    // step and description say what went wrong
        Cancelled, // the user cancelled the folder chooser
    };

    Kind kind = Kind::Failed;
    std::string archivePath;
    bool encrypted = false;
    std::string step;
    std::string description;

    static JobOutcome delivered(const std::string& path, bool encrypted)
    {
        return {Kind::Delivered, path, encrypted, {}, {}};
    }
    static JobOutcome failed(const std::string& step, const std::string& description)
    {
        return {Kind::Failed, {}, false, step, description};
    }
    static JobOutcome cancelled() { return {Kind::Cancelled, {}, false, {}, {}}; }
};

// The phases a running job goes through, for whoever shows its progress.
enum class JobPhase {
    ChoosingFolder,
    Copying,
    Writing,
    Encrypting,
};
