#pragma once

#include "JobOutcome.h"

#include <QString>

// The Japanese wording of what the jobs are doing, shared by the window and
// the desktop notification.
class JobStatusText {
public:
    static QString phase(JobPhase phase);
    // What did not happen, in plain words, for a job that failed in phase.
    static QString failure(JobPhase phase);
    // No job is running.
    static QString ready();
    // "待機中: N 件".
    static QString waiting(int count);
    // What a finished job made of the user's request; empty for a cancelled
    // folder chooser, which needs no word.
    static QString outcome(const JobOutcome& outcome);
};
