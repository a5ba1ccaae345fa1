#pragma once

#include "JobOutcome.h"
#include "JobProgressMeter.h"

#include <QWidget>

#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

// The running job: its phase with the time left, one bar for the whole job
// that never goes back, the item being compressed and the cancel button.
// The labels' messages are their accessible names, the bar's changes are
// told as value changes.
class JobProgressPage : public QWidget {
    Q_OBJECT
public:
    explicit JobProgressPage(QWidget* parent = nullptr);

    QLabel* const phaseLabel;
    QProgressBar* const progressBar;
    QLabel* const itemLabel;
    QPushButton* const cancelButton;

    // A new job: the bar starts from nothing.
    void restart();
    void showPhase(JobPhase phase);
    void showProgress(const JobProgress& progress);
    // The archive is delivered: the bar is full.
    void showDelivered();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setValue(int percent);
    void setItem(const std::string& item);
    void showItem();

    JobProgressMeter m_meter;
    std::string m_item;
};
