#pragma once

#include "JobOutcome.h"
#include "ViewServices.h"

#include <QObject>
#include <QTimer>

#include <string>
#include <vector>

class JobQueue;
class ViewController;

// Between the job queue and the window: shows how each job ended, tells
// the desktop when the window is out of sight, takes a refusal of the
// password back once the password is put right, and starts the update
// check once it cannot slow a job down.
class JobPresenter : public QObject {
    Q_OBJECT
public:
    JobPresenter(ViewController& view, JobQueue& jobs, const ViewServices& services);

    // The window hands a job over; its first item names it.
    void noteOffered(const std::vector<std::string>& paths);
    // The password or the encryption option changed.
    void onPasswordChanged();
    // Called when the window has loaded: the update check follows the first
    // job's start, or waits kUpdateCheckDelayMs, whichever comes first.
    void scheduleUpdateCheck();

    static constexpr int kUpdateCheckDelayMs = 2000;

private:
    void onQueueChanged();
    void onJobFinished(const JobOutcome& outcome);
    // item names the job by its first item; empty when not known.
    void notify(const JobOutcome& outcome, const std::string& item);
    void startUpdateCheck();
    bool isWindowInFront() const;

    ViewController& m_view;
    JobQueue& m_jobs;
    ViewServices m_services;
    QTimer m_updateDelay;
    bool m_updateScheduled = false;
    bool m_updateStarted = false;
    // Which job runs, by its first item's name, as far as it is known.
    bool m_wasBusy = false;
    std::vector<std::string> m_waiting;
    std::string m_offered;
    std::string m_runningName;
    bool m_showsPasswordRefusal = false;
};
