#pragma once

#include "JobReport.h"

#include <QString>

// A job's report as a list the user can read and copy: the items renamed on
// the way into the archive, those left out and why, and the names Windows
// may not extract. Japanese throughout; the system's own description of a
// left-out item (an error's text) follows in brackets.
class JobReportText {
public:
    static QString details(const JobReport& report);

    static QString reason(LeftOutReason reason);
    static QString warning(const WarnedItem& item);
    // Why an item was renamed: each change that applies, joined.
    static QString renaming(const RenamedItem& item);

private:
    static QString renamedSection(const JobReport& report);
    static QString leftOutSection(const JobReport& report);
    static QString warningSection(const JobReport& report);
    static bool detailIsSystemText(LeftOutReason reason);
};
