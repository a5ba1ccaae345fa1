#include "JobProgressMeter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The phases of a job in the order it goes through them. A plain job moves
// the archive into the destination folder (Delivering) before the check and
// gives it its name afterwards (Delivering again); an encrypted job has mv
// move it as part of Encrypting.
constexpr int kSteps = 5;
constexpr std::array<JobPhase, kSteps> kPlainSteps{JobPhase::Copying, JobPhase::Writing, JobPhase::Delivering,
                                                   JobPhase::Verifying, JobPhase::Delivering};
constexpr std::array<JobPhase, kSteps> kEncryptedSteps{JobPhase::Copying, JobPhase::Writing, JobPhase::Encrypting,
                                                       JobPhase::Verifying, JobPhase::Delivering};

// Each phase's share of the time, from batch jobs timed with the items and
// the home folder on one file system: 180 MB of text and photos, 150 MB of
// random data and 5,000 to 20,000 small text files. Without encryption php's
// writing is 93-98 % of a job of some size; staging, moving and checking
// share the rest. With encryption zipcloak and the check, which decrypts
// every entry, take the more the less the items compress: for 150 MB of
// random data about 57 % is writing and 42 % encrypting and checking
// together, zipcloak the larger part; for small text files most of the job
// stays the writing. The shares below lie between the two.
constexpr std::array<double, kSteps> kPlainShares{0.03, 0.92, 0.01, 0.03, 0.01};
// Copied into another file system the archive is read and written once
// more, often onto slower media (a USB stick, a network share): the copy
// takes about as long as the writing, or longer.
constexpr std::array<double, kSteps> kCopiedShares{0.03, 0.50, 0.42, 0.04, 0.01};
constexpr std::array<double, kSteps> kEncryptedShares{0.03, 0.70, 0.15, 0.11, 0.01};

// The pace is trusted once this much is done and this much time has gone.
constexpr double kEstimateAfterDone = 0.03;
constexpr auto kEstimateAfterTime = std::chrono::seconds(2);

} // namespace

void JobProgressMeter::restart()
{
    m_step = -1;
    m_done = 0;
    m_percent = 0;
    m_started.reset();
    m_doneAtStep = 0;
}

int JobProgressMeter::stepCount()
{
    return kSteps;
}

double JobProgressMeter::share(const JobProgress& progress, int step)
{
    if (step < 0 || step >= kSteps)
        return 0;
    return progress.encrypted ? kEncryptedShares[step] : progress.copiedAcross ? kCopiedShares[step] : kPlainShares[step];
}

int JobProgressMeter::stepOf(JobPhase phase, bool encrypted) const
{
    const std::array<JobPhase, kSteps>& steps = encrypted ? kEncryptedSteps : kPlainSteps;
    // A phase told again stays where it is; a later one moves on.
    const auto from = steps.begin() + std::max(m_step, 0);
    const auto found = std::find(from, steps.end(), phase);
    return found == steps.end() ? m_step : static_cast<int>(found - steps.begin());
}

void JobProgressMeter::update(const JobProgress& progress, Clock::time_point now)
{
    // Nothing is measured while the user picks the folder.
    if (progress.phase == JobPhase::ChoosingFolder)
        return;
    if (!m_started)
        m_started = now;
    const int step = stepOf(progress.phase, progress.encrypted);
    if (step < 0)
        return;
    if (step != m_step) {
        m_stepStarted = now;
        m_doneAtStep = m_done;
    }
    m_step = step;
    double before = 0;
    for (int i = 0; i < step; ++i)
        before += share(progress, i);
    const double done = before + share(progress, step) * std::clamp(progress.fraction, 0.0, 1.0);
    m_done = std::max(m_done, std::min(done, 1.0));
    m_percent = std::max(m_percent, static_cast<int>(std::floor(m_done * 100)));
}

std::optional<std::chrono::seconds> JobProgressMeter::timeLeft(Clock::time_point now) const
{
    if (!m_started || m_done < kEstimateAfterDone || m_done >= 1)
        return std::nullopt;
    const auto elapsed = now - *m_started;
    if (elapsed < kEstimateAfterTime)
        return std::nullopt;
    double seconds = std::chrono::duration<double>(elapsed).count() * (1 - m_done) / m_done;
    // The pace of the step under way, once it has shown one, where it is
    // the slower.
    const auto inStep = now - m_stepStarted;
    if (inStep >= kEstimateAfterTime && m_done > m_doneAtStep)
        seconds = std::max(seconds, std::chrono::duration<double>(inStep).count() * (1 - m_done) / (m_done - m_doneAtStep));
    return std::chrono::seconds(static_cast<long long>(std::ceil(seconds)));
}
