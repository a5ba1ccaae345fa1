#pragma once

#include "JobOutcome.h"

#include <QWidget>

#include <string>

class FolderOpener;
class JobQueue;
class QLabel;
class QProgressBar;
class QPushButton;

// The window's account of the archive jobs: what runs and in which phase,
// how many wait, and how the last one ended, with a way to its folder.
class JobStatusView : public QWidget {
    Q_OBJECT
public:
    JobStatusView(JobQueue& jobs, FolderOpener& folderOpener, QWidget* parent = nullptr);

    QLabel* const phaseLabel;
    QLabel* const waitingLabel;
    QProgressBar* const busyIndicator;
    QLabel* const resultLabel;
    QPushButton* const openFolderButton;

private:
    void buildLayout();
    void onPhaseChanged(JobPhase phase);
    void onQueueChanged();
    void onJobFinished(const JobOutcome& outcome);
    void showResult(const QString& text, bool failed);
    void openResultFolder();

    JobQueue& m_jobs;
    FolderOpener& m_folderOpener;
    std::string m_resultFolder;
};
