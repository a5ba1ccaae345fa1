#pragma once

#include "JobOutcome.h"

#include <string>

// The end of a job as one line of JSON for scripts, with the same counts,
// items and causes as the report lines. Names that are not UTF-8 carry
// U+FFFD where their bytes do not decode.
class ReportJson {
public:
    static std::string of(const JobOutcome& outcome);
};
