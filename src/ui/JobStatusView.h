#pragma once

#include "JobOutcome.h"
#include "PasswordRule.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <string>

class JobProgressPage;
class JobQueue;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// The window's account of the archive jobs, in one place that keeps its
// size: ready, or the running job's phase, time left, progress of the whole
// job, the item being compressed and the cancel button, or the last job's
// result with ways to find the archive and read the details. Below it, the
// waiting jobs by their first item's name, each removable. Every label's
// message is also its accessible name, so that a screen reader reads it; a
// result is announced when it appears.
class JobStatusView : public QWidget {
    Q_OBJECT
public:
    explicit JobStatusView(JobQueue& jobs, QWidget* parent = nullptr);

    QStackedWidget* const pages;
    QLabel* const readyLabel;
    JobProgressPage* const progressPage;
    // The progress page's controls.
    QLabel* const phaseLabel;
    QProgressBar* const progressBar;
    QLabel* const itemLabel;
    QPushButton* const cancelButton;
    QLabel* const headlineLabel;
    QLabel* const remedyLabel;
    QLabel* const receiverLabel;
    QPushButton* const showButton;
    QPushButton* const copyPathButton;
    QPushButton* const detailsButton;
    QPlainTextEdit* const detailsText;
    QPushButton* const copyDetailsButton;
    // Results no one may have seen: those of jobs that ended while others
    // waited, whose next job took their place at once.
    QLabel* const earlierLabel;
    QLabel* const waitingLabel;
    QListWidget* const waitingList;
    QPushButton* const removeWaitingButton;

    // Shows how a job ended; password is what is wrong with the password
    // the window shows, for a job refused for its password.
    void showOutcome(const JobOutcome& outcome, PasswordRule::Problem password);
    // Shows that the window is ready, in place of a result.
    void showReady();

signals:
    void showInFileManagerRequested(const std::string& archivePath);

private:
    QWidget* buildReadyPage();
    QWidget* buildResultPage();
    QWidget* buildDetails();
    QWidget* buildWaiting();
    void setAccessibility();
    void onQueueChanged();

    void removeSelectedWaiting();
    void setDetails(const QString& details);
    void showEarlier();
    void showBeforeJob();
    // takeFocus: the focus goes to a control of page even where it was not
    // on the page that gives way.
    void showPage(int page, bool takeFocus = false);
    bool releaseFocusFrom(QWidget* area);
    QWidget* focusAfter(QWidget* page) const;

    JobQueue& m_jobs;
    bool m_running = false;
    std::string m_archive;
    // The shown result's line for earlierLabel, when it is one to keep (a
    // failure, or items left out), and whether a waiting job follows it.
    QString m_shownSummary;
    bool m_followedAtOnce = false;
    QStringList m_earlier;
    // What the view showed when the running job started, and the control
    // that had the focus then: a job whose folder chooser is cancelled
    // leaves the window as it was.
    struct Shown {
        int page = 0;
        std::string archive;
        QString summary;
        QStringList earlier;
        bool details = false;
    };
    Shown m_beforeJob;
    QPointer<QWidget> m_focusBeforeJob;
};
