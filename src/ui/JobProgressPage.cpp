#include "JobProgressPage.h"

#include "AccessibleText.h"
#include "JobProgressText.h"
#include "JobStatusText.h"
#include "SecondaryText.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

JobProgressPage::JobProgressPage(QWidget* parent)
    : QWidget(parent)
    , phaseLabel(new QLabel(this))
    , progressBar(new QProgressBar(this))
    , itemLabel(new QLabel(this))
    , cancelButton(new QPushButton(QStringLiteral("キャンセル"), this))
{
    phaseLabel->setTextFormat(Qt::PlainText);
    phaseLabel->setWordWrap(true);
    phaseLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // A long path is shortened in its middle to the width there is; the
    // whole path is in the tooltip and the accessible name.
    itemLabel->setTextFormat(Qt::PlainText);
    itemLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    itemLabel->setMinimumHeight(itemLabel->fontMetrics().lineSpacing());
    SecondaryText::apply(itemLabel);
    progressBar->setRange(0, 100);
    progressBar->setFormat(QStringLiteral("%p%"));
    progressBar->setTextVisible(true);
    QSizePolicy keepSpace = progressBar->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    progressBar->setSizePolicy(keepSpace);

    // A label's name is its message; its description says which it is.
    phaseLabel->setAccessibleDescription(QStringLiteral("処理の段階"));
    itemLabel->setAccessibleDescription(QStringLiteral("処理中の項目"));
    progressBar->setAccessibleName(QStringLiteral("進行状況"));
    progressBar->setAccessibleDescription(QStringLiteral("アーカイブ作成全体の進み具合"));
    cancelButton->setAccessibleName(QStringLiteral("キャンセル"));
    cancelButton->setAccessibleDescription(QStringLiteral("作成中のアーカイブを中止します（Esc）"));
    cancelButton->setToolTip(cancelButton->accessibleDescription());

    auto* barRow = new QHBoxLayout;
    barRow->addWidget(progressBar, 1);
    barRow->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(phaseLabel);
    layout->addLayout(barRow);
    layout->addWidget(itemLabel);
    layout->addStretch(1);
}

void JobProgressPage::restart()
{
    m_meter.restart();
    setValue(0);
    progressBar->show();
    AccessibleText::setMessage(phaseLabel, QString());
    setItem({});
}

void JobProgressPage::showPhase(JobPhase phase)
{
    AccessibleText::setMessage(phaseLabel, JobStatusText::phase(phase));
    // Nothing is measured while the user picks the folder.
    progressBar->setVisible(phase != JobPhase::ChoosingFolder);
    if (phase != JobPhase::Writing)
        setItem({});
}

void JobProgressPage::showProgress(const JobProgress& progress)
{
    const JobProgressMeter::Clock::time_point now = JobProgressMeter::Clock::now();
    m_meter.update(progress, now);
    setValue(m_meter.percent());
    AccessibleText::setMessage(phaseLabel, JobProgressText::running(progress.shownPhase(), m_meter.timeLeft(now)));
    if (progress.phase == JobPhase::Writing && !progress.item.empty())
        setItem(progress.item);
}

void JobProgressPage::showDelivered()
{
    setValue(100);
}

void JobProgressPage::setValue(int percent)
{
    if (progressBar->value() == percent)
        return;
    progressBar->setValue(percent);
    QAccessibleValueChangeEvent changed(progressBar, percent);
    QAccessible::updateAccessibility(&changed);
}

void JobProgressPage::setItem(const std::string& item)
{
    if (item == m_item)
        return;
    m_item = item;
    const QString text = JobProgressText::currentItem(item);
    itemLabel->setToolTip(text);
    AccessibleText::setName(itemLabel, text);
    showItem();
}

void JobProgressPage::showItem()
{
    const QString text = JobProgressText::currentItem(m_item);
    itemLabel->setText(itemLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, itemLabel->width()));
}

void JobProgressPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showItem();
}
