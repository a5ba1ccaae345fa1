#pragma once

#include "JobOutcome.h"
#include "PasswordRule.h"

#include <QWidget>

#include <string>

class JobQueue;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// The window's account of the archive jobs, in one place that keeps its
// size: ready, or the running job's phase, progress and cancel button, or
// the last job's result with ways to find the archive and read the details.
// Below it, the waiting jobs by their first item's name, each removable.
class JobStatusView : public QWidget {
    Q_OBJECT
public:
    explicit JobStatusView(JobQueue& jobs, QWidget* parent = nullptr);

    QStackedWidget* const pages;
    QLabel* const readyLabel;
    QLabel* const phaseLabel;
    QProgressBar* const progressBar;
    QPushButton* const cancelButton;
    QLabel* const headlineLabel;
    QLabel* const remedyLabel;
    QPushButton* const showButton;
    QPushButton* const copyPathButton;
    QPushButton* const detailsButton;
    QPlainTextEdit* const detailsText;
    QPushButton* const copyDetailsButton;
    QLabel* const waitingLabel;
    QListWidget* const waitingList;
    QPushButton* const removeWaitingButton;

    // Shows how a job ended; password is what is wrong with the password
    // the window shows, for a job refused for its password.
    void showOutcome(const JobOutcome& outcome, PasswordRule::Problem password);

signals:
    void showInFileManagerRequested(const std::string& archivePath);

private:
    QWidget* buildReadyPage();
    QWidget* buildRunningPage();
    QWidget* buildResultPage();
    QWidget* buildDetails();
    QWidget* buildWaiting();
    void setAccessibility();
    void onQueueChanged();
    void onPhaseChanged(JobPhase phase);
    void onProgressChanged(int percent);
    void removeSelectedWaiting();
    void setDetails(const QString& details);

    JobQueue& m_jobs;
    bool m_running = false;
    std::string m_archive;
};
