#pragma once

#include "JobOutcome.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One real archive job (a new ZipAction) run to its end, with standard
// output captured.
struct JobRun {
    JobOutcome outcome;
    bool ended = false;
    std::vector<std::string> lines; // what the job wrote to standard output

    // Encrypted when a password is given; onPhase runs as each phase begins;
    // the archive is named after the items when nameAfterItems is set.
    static JobRun of(const std::vector<std::string>& paths, const std::string& destDir,
                     const std::optional<std::string>& password = {},
                     const std::function<void(JobPhase)>& onPhase = {}, bool nameAfterItems = false);

    bool delivered() const { return ended && outcome.kind == JobOutcome::Kind::Delivered; }
    bool logged(const std::string& start) const;
};
