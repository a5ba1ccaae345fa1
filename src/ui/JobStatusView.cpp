#include "JobStatusView.h"

#include "AccessibleText.h"
#include "AlertAccessible.h"
#include "AlertColour.h"
#include "JobProgressPage.h"
#include "JobQueue.h"
#include "JobReportText.h"
#include "JobStatusText.h"
#include "SecondaryText.h"
#include "WrapPoints.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Page { Ready, Running, Result };


QLabel* plainLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

// Keeps its place in the layout while hidden, so that nothing jumps.
void keepSpaceWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

} // namespace

JobStatusView::JobStatusView(JobQueue& jobs, QWidget* parent)
    : QWidget(parent)
    , pages(new QStackedWidget(this))
    , readyLabel(plainLabel(this))
    , progressPage(new JobProgressPage(pages))
    , phaseLabel(progressPage->phaseLabel)
    , progressBar(progressPage->progressBar)
    , itemLabel(progressPage->itemLabel)
    , cancelButton(progressPage->cancelButton)
    , headlineLabel(plainLabel(this))
    , remedyLabel(plainLabel(this))
    , receiverLabel(plainLabel(this))
    , showButton(new QPushButton(QStringLiteral("ファイルマネージャで表示"), this))
    , copyPathButton(new QPushButton(QStringLiteral("パスをコピー"), this))
    , detailsButton(new QPushButton(QStringLiteral("詳細"), this))
    , detailsText(new QPlainTextEdit(this))
    , copyDetailsButton(new QPushButton(QStringLiteral("詳細をコピー"), this))
    , earlierLabel(plainLabel(this))
    , waitingLabel(plainLabel(this))
    , waitingList(new QListWidget(this))
    , removeWaitingButton(new QPushButton(QStringLiteral("待機から外す"), this))
    , m_jobs(jobs)
{
    // Before anything asks for the labels' accessible interfaces. The
    // status says what keeps the window from working (php missing) as it
    // is found, and is read out then.
    AlertAccessible::markAsAlert(headlineLabel);
    AlertAccessible::markAsAlert(readyLabel);
    // Only a problem that keeps jobs from starting is one.
    AlertAccessible::setAlerting(readyLabel, false);
    // The count is read where the user looks for it; a job taken off the
    // list is said aloud, as the focus stays in the list.
    AlertAccessible::markAsAlert(waitingLabel);
    AlertAccessible::setAlerting(waitingLabel, false);
    WrapPoints::keepOutOfCopies({headlineLabel, remedyLabel});
    pages->addWidget(buildReadyPage());
    pages->addWidget(progressPage);
    pages->addWidget(buildResultPage());
    // Room for the tallest page (a headline and three lines of explanation,
    // one more for wrapping, and the buttons), so that no page makes the
    // window jump when it appears.
    pages->setMinimumHeight(5 * fontMetrics().lineSpacing() + showButton->sizeHint().height() + 3 * 6);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(pages);
    layout->addWidget(earlierLabel);
    earlierLabel->hide();
    layout->addWidget(buildDetails());
    layout->addWidget(buildWaiting());
    setAccessibility();

    connect(&m_jobs, &JobQueue::changed, this, &JobStatusView::onQueueChanged);
    connect(&m_jobs, &JobQueue::phaseChanged, progressPage, &JobProgressPage::showPhase);
    connect(&m_jobs, &JobQueue::progressChanged, progressPage, &JobProgressPage::showProgress);
    connect(cancelButton, &QPushButton::clicked, &m_jobs, &JobQueue::cancelRunning);
    connect(showButton, &QPushButton::clicked, this, [this] {
        if (!m_archive.empty())
            emit showInFileManagerRequested(m_archive);
    });
    connect(copyPathButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(JobStatusText::path(m_archive)); });
    connect(detailsButton, &QPushButton::toggled, detailsText->parentWidget(), &QWidget::setVisible);
    connect(copyDetailsButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(detailsText->toPlainText()); });
    connect(removeWaitingButton, &QPushButton::clicked, this, &JobStatusView::removeSelectedWaiting);
    auto* removeKey = new QShortcut(QKeySequence::Delete, waitingList, nullptr, nullptr, Qt::WidgetShortcut);
    connect(removeKey, &QShortcut::activated, this, &JobStatusView::removeSelectedWaiting);
    onQueueChanged();
}

QWidget* JobStatusView::buildReadyPage()
{
    auto* page = new QWidget(pages);
    readyLabel->setParent(page);
    AccessibleText::setMessage(readyLabel, JobStatusText::ready());
    SecondaryText::apply(readyLabel);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(readyLabel);
    layout->addStretch(1);
    return page;
}

QWidget* JobStatusView::buildResultPage()
{
    auto* page = new QWidget(pages);
    for (QWidget* widget : std::initializer_list<QWidget*>{headlineLabel, remedyLabel, receiverLabel, showButton,
                                                           copyPathButton, detailsButton})
        widget->setParent(page);
    QFont bold = headlineLabel->font();
    bold.setBold(true);
    headlineLabel->setFont(bold);
    detailsButton->setCheckable(true);
    // A failure has no archive to show: the row keeps its height all the same.
    for (QWidget* button : std::initializer_list<QWidget*>{showButton, copyPathButton, detailsButton})
        keepSpaceWhenHidden(button);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(showButton);
    buttons->addWidget(copyPathButton);
    buttons->addStretch(1);
    buttons->addWidget(detailsButton);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headlineLabel);
    layout->addWidget(remedyLabel);
    layout->addWidget(receiverLabel);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return page;
}

QWidget* JobStatusView::buildDetails()
{
    auto* area = new QWidget(this);
    detailsText->setParent(area);
    copyDetailsButton->setParent(area);
    detailsText->setReadOnly(true);
    // Long paths break anywhere rather than scroll sideways.
    detailsText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    detailsText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    detailsText->setMinimumHeight(90);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(copyDetailsButton);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(detailsText);
    layout->addLayout(row);
    area->hide();
    return area;
}

QWidget* JobStatusView::buildWaiting()
{
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("waitingArea"));
    waitingLabel->setParent(area);
    waitingList->setParent(area);
    removeWaitingButton->setParent(area);
    // Three names are visible; more scroll. A row is measured on Japanese
    // text, whose glyphs come from a taller font than the list's own.
    waitingList->addItem(QStringLiteral("あ"));
    const int rowHeight = waitingList->sizeHintForRow(0);
    delete waitingList->takeItem(0);
    waitingList->setMaximumHeight(3 * rowHeight + 2 * waitingList->frameWidth());
    auto* row = new QHBoxLayout;
    row->addWidget(waitingList, 1);
    row->addWidget(removeWaitingButton, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(waitingLabel);
    layout->addLayout(row);
    return area;
}

void JobStatusView::setAccessibility()
{
    // A label's name is its message (set with it); its description says
    // which message it is.
    readyLabel->setAccessibleDescription(QStringLiteral("状況"));
    headlineLabel->setAccessibleDescription(QStringLiteral("結果"));
    remedyLabel->setAccessibleDescription(QStringLiteral("結果の説明"));
    receiverLabel->setAccessibleDescription(QStringLiteral("受け取る人へ伝えること"));
    showButton->setAccessibleName(QStringLiteral("ファイルマネージャで表示"));
    showButton->setAccessibleDescription(QStringLiteral("作成したアーカイブを選んだ状態でファイルマネージャを開きます"));
    copyPathButton->setAccessibleName(QStringLiteral("パスをコピー"));
    copyPathButton->setAccessibleDescription(QStringLiteral("作成したアーカイブのパスをクリップボードにコピーします"));
    detailsButton->setAccessibleName(QStringLiteral("詳細"));
    detailsButton->setAccessibleDescription(QStringLiteral("詳細の表示と非表示を切り替えます"));
    detailsText->setAccessibleName(QStringLiteral("詳細"));
    copyDetailsButton->setAccessibleName(QStringLiteral("詳細をコピー"));
    copyDetailsButton->setAccessibleDescription(QStringLiteral("詳細の内容をクリップボードにコピーします"));
    earlierLabel->setAccessibleDescription(QStringLiteral("先に終わったジョブの結果"));
    waitingLabel->setAccessibleDescription(QStringLiteral("待機中の件数"));
    waitingList->setAccessibleName(QStringLiteral("待機中のアーカイブ"));
    removeWaitingButton->setAccessibleName(QStringLiteral("待機から外す"));
    removeWaitingButton->setAccessibleDescription(QStringLiteral("選んだ待機中のアーカイブを作成しないようにします（Delete）"));
}

void JobStatusView::onQueueChanged()
{
    const bool busy = m_jobs.isBusy();
    if (busy && !m_running) {
        m_beforeJob = {pages->currentIndex() == Running ? int(Ready) : pages->currentIndex(), m_archive,
                       m_shownSummary, m_earlier, detailsButton->isChecked()};
        m_focusBeforeJob = window()->focusWidget();
        // A new job: the previous result goes, the bar starts from nothing.
        // A result that went at once, with no time to be read, stays below
        // until a job starts after one the user could see.
        if (!m_followedAtOnce)
            m_earlier.clear();
        else if (!m_shownSummary.isEmpty())
            m_earlier << m_shownSummary;
        m_shownSummary.clear();
        m_followedAtOnce = false;
        showEarlier();
        m_running = true;
        m_archive.clear();
        progressPage->restart();
        const bool refocus = releaseFocusFrom(detailsText->parentWidget());
        detailsButton->setChecked(false);
        showPage(Running, refocus);
    }
    m_running = busy;
    const std::vector<JobQueue::Paths> waiting = m_jobs.waitingItems();
    AlertAccessible::setAlerting(waitingLabel, false);
    AccessibleText::setMessage(waitingLabel, JobStatusText::waiting(static_cast<int>(waiting.size())));
    // The list is made anew. While the user is in it, the same place stays
    // current, so that Delete goes on down the list. Otherwise the first job
    // is only selected, for the button: making it current would tell a
    // screen reader that the list has the focus when another control has.
    const bool inList = waitingList->hasFocus();
    const int current = waitingList->currentRow();
    waitingList->clear();
    // Jobs of the same first item read apart: where its items are and how
    // many. The tip lists them.
    for (const JobQueue::Paths& paths : waiting) {
        auto* item = new QListWidgetItem(JobStatusText::waitingEntry(paths), waitingList);
        QStringList all;
        for (const std::string& path : paths)
            all << JobStatusText::path(path);
        item->setToolTip(all.join(QLatin1Char('\n')));
    }
    if (!waiting.empty() && inList)
        waitingList->setCurrentRow(std::clamp(current, 0, waitingList->count() - 1));
    else if (!waiting.empty())
        waitingList->item(0)->setSelected(true);
    // The last waiting job has started: the list goes, and a control in it
    // that had the focus hands it on as a page does.
    const bool refocus = waiting.empty() && releaseFocusFrom(waitingList->parentWidget());
    waitingList->parentWidget()->setVisible(!waiting.empty());
    if (refocus)
        showPage(pages->currentIndex(), true);
}

void JobStatusView::showOutcome(const JobOutcome& outcome, PasswordRule::Problem password)
{
    m_running = false;
    if (outcome.kind == JobOutcome::Kind::Cancelled) {
        // No folder was chosen: nothing was made and nothing is to be said.
        showBeforeJob();
        return;
    }
    const bool refocus = releaseFocusFrom(detailsText->parentWidget());
    detailsButton->setChecked(false);
    // The queue starts the next job right after this one's end.
    m_followedAtOnce = !m_jobs.waitingNames().empty();
    m_shownSummary = JobStatusText::summary(outcome);
    const bool delivered = outcome.kind == JobOutcome::Kind::Delivered;
    if (delivered)
        progressPage->showDelivered();
    m_archive = delivered ? outcome.archivePath : std::string();
    const QString headline = JobStatusText::headline(outcome);
    const QString remedy = JobStatusText::remedy(outcome, password);
    const QString receiver = JobStatusText::receiverNote(outcome);
    // An archive or item name may be one long word: it breaks anywhere.
    AccessibleText::setMessage(headlineLabel, headline, WrapPoints::added(headline));
    AccessibleText::setMessage(remedyLabel, remedy, WrapPoints::added(remedy));
    AccessibleText::setMessage(receiverLabel, receiver);
    receiverLabel->setVisible(!receiver.isEmpty());
    // The result is read out as a whole when it appears: what happened,
    // where the archive went, what it holds and what was changed.
    QStringList whole{headline, remedy};
    if (!receiver.isEmpty())
        whole << receiver;
    AccessibleText::setName(headlineLabel, whole.join(QLatin1Char('\n')));
    // The words carry the meaning; the colour only helps the eye.
    const bool failed = outcome.kind == JobOutcome::Kind::Failed;
    headlineLabel->setStyleSheet(failed                    ? AlertColour::failure(headlineLabel)
                                 : outcome.lostSomething() ? AlertColour::warning(headlineLabel)
                                                           : QString());
    showButton->setVisible(delivered);
    copyPathButton->setVisible(delivered);
    setDetails(delivered ? JobReportText::details(outcome.report) : JobStatusText::technicalDetail(outcome));
    showPage(Result, refocus);
    AccessibleText::announce(headlineLabel);
}

void JobStatusView::showReady()
{
    showPage(Ready);
}

void JobStatusView::showBeforeJob()
{
    m_archive = m_beforeJob.archive;
    m_shownSummary = m_beforeJob.summary;
    m_earlier = m_beforeJob.earlier;
    // Back in view, the result can be read, unless a waiting job replaces it
    // at once.
    m_followedAtOnce = !m_jobs.waitingNames().empty();
    showEarlier();
    detailsButton->setChecked(m_beforeJob.details);
    showPage(m_beforeJob.page);
}

void JobStatusView::showPage(int page, bool takeFocus)
{
    QWidget* const next = pages->widget(page);
    QWidget* const focus = window()->focusWidget();
    if (takeFocus || (next != pages->currentWidget() && focus && pages->currentWidget()->isAncestorOf(focus))) {
        // The focus would go with the page. Left to the stack it lands on a
        // hidden button or on the new page itself, which a screen reader
        // announces as a nameless filler: it goes straight to a control the
        // user will see instead. A control of the new page can take the
        // focus only once the page is shown; the stack hides the old one.
        if (QWidget* control = focusAfter(next)) {
            if (next->isAncestorOf(control))
                next->show();
            control->setFocus(Qt::OtherFocusReason);
        }
    }
    pages->setCurrentIndex(page);
}

// A part of the window about to hide gives up the focus first, and says
// whether it had it: left to Qt, the focus would jump to the next control
// in the window, the version box's button, and a screen reader would
// announce that.
bool JobStatusView::releaseFocusFrom(QWidget* area)
{
    QWidget* const focus = window()->focusWidget();
    if (!focus || !area->isVisible() || !area->isAncestorOf(focus))
        return false;
    focus->clearFocus();
    return true;
}

// The control to take the focus from the page giving way to next: the one
// that had it when the job started, if next brings it back; else next's
// first control; else the one that had it when the job started, wherever
// it is; else the window's first control.
QWidget* JobStatusView::focusAfter(QWidget* next) const
{
    const auto takesFocus = [this, next](QWidget* widget) {
        if (!widget || widget->isWindow() || !widget->isEnabled()
            || (widget->focusPolicy() & Qt::TabFocus) != Qt::TabFocus)
            return false;
        if (pages->isAncestorOf(widget))
            return next->isAncestorOf(widget) && widget->isVisibleTo(next);
        return widget->isVisibleTo(window());
    };
    QWidget* const started = m_focusBeforeJob;
    if (takesFocus(started) && next->isAncestorOf(started))
        return started;
    QWidget* first = nullptr;
    for (QWidget* widget = window()->nextInFocusChain(); widget != window(); widget = widget->nextInFocusChain()) {
        if (!takesFocus(widget))
            continue;
        if (next->isAncestorOf(widget))
            return widget;
        if (!first)
            first = widget;
    }
    return takesFocus(started) ? started : first;
}

void JobStatusView::showEarlier()
{
    QStringList lines{QStringLiteral("先に終わったジョブ:")};
    for (const QString& line : m_earlier)
        lines << QStringLiteral("・") + line;
    AccessibleText::setMessage(earlierLabel, m_earlier.isEmpty() ? QString() : lines.join(QLatin1Char('\n')));
    earlierLabel->setVisible(!m_earlier.isEmpty());
}

void JobStatusView::setDetails(const QString& details)
{
    detailsText->setPlainText(details);
    detailsButton->setVisible(!details.isEmpty());
}

void JobStatusView::removeSelectedWaiting()
{
    const QList<QListWidgetItem*> selected = waitingList->selectedItems();
    const int row = selected.isEmpty() ? waitingList->currentRow() : waitingList->row(selected.first());
    if (row < 0 || row >= waitingList->count())
        return;
    const QString removed = waitingList->item(row)->text();
    m_jobs.removeWaiting(row);
    // The list shows the change; a screen reader, in the list, hears only
    // the next job's name. With the list gone the focus tells.
    if (m_jobs.waitingCount() == 0)
        return;
    AlertAccessible::setAlerting(waitingLabel, true);
    AccessibleText::setName(waitingLabel, JobStatusText::removedFromWaiting(removed, m_jobs.waitingCount()));
    AccessibleText::announce(waitingLabel);
}
