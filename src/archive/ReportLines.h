#pragma once

#include "JobOutcome.h"

#include <ctime>
#include <string>
#include <vector>

// The report of a delivered archive as lines for standard output: one for
// the archive, then one per renamed, left-out or warned item.
class ReportLines {
public:
    static std::vector<std::string> of(const std::string& archivePath, const JobReport& report);
    // One line per item left out.
    static std::vector<std::string> leftOut(const JobReport& report);
    // The one line of a job that ended before any work: "job refused: "
    // and why.
    static std::string refused(const JobOutcome& outcome);

    static const char* reasonText(LeftOutReason reason);
    // Why a job failed, as the start of its line: "nothing to archive", ...
    static const char* causeText(FailureCause cause);
    static const char* warningText(WindowsWarning warning);
    // The warning with what it needs of the item, such as a path's length.
    static std::string warningDetail(const WarnedItem& item);
    // A time as scripts read it, in UTC: "1970-01-01T00:00:00Z".
    static std::string dateText(std::time_t when);
    // The same time on this computer's clock, which the headers hold, with
    // its offset: "1970-01-01T09:00:00+09:00".
    static std::string localDateText(std::time_t when);
};
