#include "JobPresenter.h"

#include "JobQueue.h"
#include "JobStatusText.h"
#include "JobStatusView.h"
#include "PasswordRule.h"
#include "ViewController.h"

#include <QEvent>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

JobPresenter::JobPresenter(ViewController& view, JobQueue& jobs, const ViewServices& services)
    : QObject(&view)
    , m_view(view)
    , m_jobs(jobs)
    , m_services(services)
{
    m_updateDelay.setSingleShot(true);
    m_updateDelay.setInterval(kUpdateCheckDelayMs);
    connect(&m_updateDelay, &QTimer::timeout, this, &JobPresenter::startUpdateCheck);
    connect(&m_jobs, &JobQueue::changed, this, &JobPresenter::onQueueChanged);
    connect(&m_jobs, &JobQueue::jobFinished, this, &JobPresenter::onJobFinished);
    connect(view.jobStatusView, &JobStatusView::showInFileManagerRequested, this, [this](const std::string& archive) {
        if (m_services.showInFileManager)
            m_services.showInFileManager(archive);
    });
}

void JobPresenter::onQueueChanged()
{
    if (m_jobs.isBusy())
        startUpdateCheck();
    showStatus();
}

// Where the window scrolls (a large scale on a small screen), the job's
// progress and result are brought into view as they change.
void JobPresenter::showStatus()
{
    // The window's layout still settles after a job has begun (a window
    // that has just appeared, a page that grows): the status is brought
    // back into view as the content changes size, until the user scrolls.
    if (!m_watchingResizes) {
        m_watchingResizes = true;
        m_view.scrollArea->viewport()->installEventFilter(this);
        m_view.scrollArea->widget()->installEventFilter(this);
        connect(m_view.scrollArea->verticalScrollBar(), &QScrollBar::actionTriggered, this,
                [this] { m_statusPending = false; });
    }
    m_statusPending = true;
    // After the status' new page has taken its size.
    QTimer::singleShot(0, this, &JobPresenter::bringStatusIntoView);
}

void JobPresenter::bringStatusIntoView()
{
    if (m_statusPending)
        m_view.scrollArea->ensureWidgetVisible(m_view.jobStatusView, 0, 0);
}

bool JobPresenter::eventFilter(QObject* watched, QEvent* event)
{
    if (m_statusPending && event->type() == QEvent::Resize)
        QTimer::singleShot(0, this, &JobPresenter::bringStatusIntoView);
    return QObject::eventFilter(watched, event);
}

void JobPresenter::onJobFinished(const JobOutcome& outcome)
{
    // A refused password, or a job refused while the window does not know
    // whether to encrypt, ends a job that never ran, while another may run.
    // A cancelled folder chooser brings back what was shown, refusal and all.
    if (outcome.kind != JobOutcome::Kind::Cancelled)
        m_showsOptionsRefusal = outcome.kind == JobOutcome::Kind::Failed
            && (outcome.cause == FailureCause::PasswordRefused || outcome.cause == FailureCause::OptionsUnreadable);
    m_view.jobStatusView->showOutcome(outcome, PasswordRule::check(m_view.passwordTextField->text().toStdString()));
    showStatus();
    if (!isWindowInFront())
        notify(outcome);
}

void JobPresenter::onPasswordChanged()
{
    if (!m_showsOptionsRefusal)
        return;
    const SettingStatus shown = m_view.currentSettingStatus();
    if (shown.encryptUnknown || (shown.isEncrypt && PasswordRule::check(shown.password) != PasswordRule::Problem::None))
        return;
    // The refusal no longer holds: the window is ready for the next try.
    m_showsOptionsRefusal = false;
    if (!m_jobs.isBusy())
        m_view.jobStatusView->showReady();
}

void JobPresenter::notify(const JobOutcome& outcome)
{
    // A cancelled chooser or a stop were the user's own doing, in the window.
    if (!m_services.notify || outcome.kind == JobOutcome::Kind::Cancelled
        || outcome.kind == JobOutcome::Kind::Stopped)
        return;
    Notification notification;
    notification.title = JobStatusText::headline(outcome);
    notification.text = JobStatusText::remedy(outcome, PasswordRule::check(m_view.passwordTextField->text().toStdString()));
    if (outcome.kind == JobOutcome::Kind::Delivered && m_services.showInFileManager) {
        notification.actionLabel = QStringLiteral("表示");
        notification.action = [show = m_services.showInFileManager, archive = outcome.archivePath] { show(archive); };
        m_services.notify(notification);
        return;
    }
    if (!outcome.firstItem.empty())
        notification.text = QStringLiteral("対象: %1\n%2")
                                .arg(JobStatusText::inSentence(outcome.firstItem), notification.text)
                                .trimmed();
    // The window tells the whole story: the action brings it with its details open.
    notification.actionLabel = QStringLiteral("詳細");
    notification.action = [view = QPointer<ViewController>(&m_view)] {
        if (!view)
            return;
        view->bringToFront();
        if (!view->jobStatusView->detailsButton->isChecked())
            view->jobStatusView->detailsButton->click();
    };
    m_services.notify(notification);
}

void JobPresenter::scheduleUpdateCheck()
{
    if (m_updateScheduled)
        return;
    m_updateScheduled = true;
    if (m_jobs.isBusy())
        startUpdateCheck();
    else
        m_updateDelay.start();
}

void JobPresenter::startUpdateCheck()
{
    if (!m_updateScheduled || m_updateStarted)
        return;
    m_updateStarted = true;
    m_updateDelay.stop();
    // After the job's own start has returned, so that the question's name
    // lookup is never on the job's way.
    if (m_services.checkForUpdate)
        QTimer::singleShot(0, this, [this] { m_services.checkForUpdate(); });
}

bool JobPresenter::isWindowInFront() const
{
    return m_view.isVisible() && !m_view.isMinimized() && m_view.isActiveWindow();
}
