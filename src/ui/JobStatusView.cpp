#include "JobStatusView.h"

#include "FileManager.h"
#include "PathText.h"
#include "FolderOpener.h"
#include "JobQueue.h"
#include "JobStatusText.h"
#include "Log.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

JobStatusView::JobStatusView(JobQueue& jobs, FolderOpener& folderOpener, QWidget* parent)
    : QWidget(parent)
    , phaseLabel(new QLabel(this))
    , waitingLabel(new QLabel(this))
    , busyIndicator(new QProgressBar(this))
    , resultLabel(new QLabel(this))
    , openFolderButton(new QPushButton(QStringLiteral("フォルダを開く"), this))
    , m_jobs(jobs)
    , m_folderOpener(folderOpener)
{
    buildLayout();
    connect(&m_jobs, &JobQueue::phaseChanged, this, &JobStatusView::onPhaseChanged);
    connect(&m_jobs, &JobQueue::changed, this, &JobStatusView::onQueueChanged);
    connect(&m_jobs, &JobQueue::jobFinished, this, &JobStatusView::onJobFinished);
    connect(openFolderButton, &QPushButton::clicked, this, &JobStatusView::openResultFolder);
    onQueueChanged();
}

void JobStatusView::buildLayout()
{
    phaseLabel->setAccessibleName(QStringLiteral("処理の状況"));
    waitingLabel->setAccessibleName(QStringLiteral("待機中の件数"));
    resultLabel->setAccessibleName(QStringLiteral("結果"));
    openFolderButton->setAccessibleName(QStringLiteral("フォルダを開く"));
    openFolderButton->setAccessibleDescription(QStringLiteral("作成したアーカイブのあるフォルダをファイルマネージャで開きます"));
    busyIndicator->setAccessibleName(QStringLiteral("処理中"));

    // An indicator without a known end: the job reports phases, not amounts.
    busyIndicator->setRange(0, 0);
    busyIndicator->setTextVisible(false);
    busyIndicator->setFixedHeight(6);
    // Showing and hiding the indicator must not make the window jump.
    QSizePolicy keepSpace = busyIndicator->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    busyIndicator->setSizePolicy(keepSpace);
    resultLabel->setWordWrap(true);
    resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    resultLabel->setTextFormat(Qt::PlainText);
    phaseLabel->setTextFormat(Qt::PlainText);
    openFolderButton->hide();
    resultLabel->hide();

    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(phaseLabel, 1);
    progressRow->addWidget(waitingLabel);
    auto* resultRow = new QHBoxLayout;
    resultRow->addWidget(resultLabel, 1);
    resultRow->addWidget(openFolderButton, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(progressRow);
    layout->addWidget(busyIndicator);
    layout->addLayout(resultRow);
}

void JobStatusView::onPhaseChanged(JobPhase phase)
{
    phaseLabel->setText(JobStatusText::phase(phase));
}

void JobStatusView::onQueueChanged()
{
    const bool busy = m_jobs.isBusy();
    // Between jobs the line says, in a muted colour, that the window is
    // ready for the next drop.
    if (!busy)
        phaseLabel->setText(JobStatusText::ready());
    phaseLabel->setForegroundRole(busy ? QPalette::WindowText : QPalette::PlaceholderText);
    busyIndicator->setVisible(busy);
    const int waiting = m_jobs.waitingCount();
    waitingLabel->setText(waiting > 0 ? JobStatusText::waiting(waiting) : QString());
    waitingLabel->setVisible(waiting > 0);
}

void JobStatusView::onJobFinished(const JobOutcome& outcome)
{
    // A cancelled chooser leaves the last result as it was.
    if (outcome.kind == JobOutcome::Kind::Cancelled)
        return;
    const bool delivered = outcome.kind == JobOutcome::Kind::Delivered;
    m_resultFolder = delivered ? PathText::parentFolder(outcome.archivePath) : std::string();
    showResult(JobStatusText::outcome(outcome), !delivered);
    openFolderButton->setVisible(delivered);
}

void JobStatusView::showResult(const QString& text, bool failed)
{
    resultLabel->setText(text);
    // Failures in red, successes in the plain text colour: the words carry
    // the meaning, the colour only helps the eye.
    resultLabel->setStyleSheet(failed ? QStringLiteral("color: #c62828;") : QString());
    resultLabel->show();
}

void JobStatusView::openResultFolder()
{
    if (m_resultFolder.empty())
        return;
    if (!m_folderOpener.openFolder(m_resultFolder))
        Log::line("could not open the folder: " + m_resultFolder);
}
