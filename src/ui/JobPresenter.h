#pragma once

#include "JobOutcome.h"
#include "ViewServices.h"

#include <QObject>
#include <QTimer>

#include <string>

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

    // The password or the encryption option changed.
    void onPasswordChanged();
    // Called when the window has loaded: the update check follows the first
    // job's start, or waits kUpdateCheckDelayMs, whichever comes first.
    void scheduleUpdateCheck();

    static constexpr int kUpdateCheckDelayMs = 2000;

private:
    void onQueueChanged();
    void onJobFinished(const JobOutcome& outcome);
    void showStatus();
    void bringStatusIntoView();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void notify(const JobOutcome& outcome);
    void startUpdateCheck();
    bool isWindowInFront() const;

    ViewController& m_view;
    JobQueue& m_jobs;
    ViewServices m_services;
    QTimer m_updateDelay;
    bool m_updateScheduled = false;
    bool m_updateStarted = false;
    bool m_showsOptionsRefusal = false;
    // The status is kept in view as the content changes size, until the
    // user scrolls.
    bool m_statusPending = false;
    bool m_watchingResizes = false;
};
