#pragma once

#include "JobOutcome.h"

#include <string>
#include <vector>

// The report of a delivered archive as lines for standard output: one for
// the archive, then one per renamed, left-out or warned item.
class ReportLines {
public:
    static std::vector<std::string> of(const std::string& archivePath, const JobReport& report);

    static const char* reasonText(LeftOutReason reason);
    // Why a job failed, as the start of its line: "nothing to archive", ...
    static const char* causeText(FailureCause cause);
    static const char* warningText(WindowsWarning warning);
};
