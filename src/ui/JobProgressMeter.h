#pragma once

#include "JobOutcome.h"

#include <chrono>
#include <optional>

// One figure for the whole job out of the progress of its phases: each
// phase counts with its share of a typical job's time, so the bar moves at
// an even pace from the first copy to the delivered archive, and never goes
// back. Also estimates the time left from the pace so far.
class JobProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    // A new job begins.
    void restart();
    // Takes what the job tells; now is when it was told.
    void update(const JobProgress& progress, Clock::time_point now);

    // 0 to 100; only grows until restart().
    int percent() const { return m_percent; }
    // The time the rest will take, once the pace is known (some percent
    // done, some seconds gone).
    std::optional<std::chrono::seconds> timeLeft(Clock::time_point now) const;

    // The share of the whole job that a phase takes, 0 to 1, in a job such
    // as progress tells of (plain, encrypted, copied into another file
    // system); step counts the phases that came before in this job.
    static double share(const JobProgress& progress, int step);
    static int stepCount();

private:
    int stepOf(JobPhase phase, bool encrypted) const;

    int m_step = -1;
    double m_done = 0; // 0 to 1
    int m_percent = 0;
    std::optional<Clock::time_point> m_started;
    // Where the step now under way began: a step slower than the ones
    // before (a copy onto a USB stick after a quick writing) sets the pace.
    Clock::time_point m_stepStarted;
    double m_doneAtStep = 0;
};
