#include "JobProgressText.h"

#include "JobStatusText.h"

#include <algorithm>

QString JobProgressText::running(JobPhase phase, std::optional<std::chrono::seconds> left)
{
    if (!left)
        return JobStatusText::phase(phase);
    return QStringLiteral("%1 — %2").arg(JobStatusText::phase(phase), timeLeft(*left));
}

QString JobProgressText::timeLeft(std::chrono::seconds left)
{
    const long long seconds = std::max<long long>(left.count(), 1);
    if (seconds < 5)
        return QStringLiteral("残りわずか");
    if (seconds < 10)
        return QStringLiteral("残り約 %1 秒").arg(seconds);
    if (seconds < 60)
        return QStringLiteral("残り約 %1 秒").arg((seconds + 9) / 10 * 10);
    const long long minutes = (seconds + 59) / 60;
    if (minutes < 60)
        return QStringLiteral("残り約 %1 分").arg(minutes);
    return QStringLiteral("残り約 %1 時間 %2 分").arg(minutes / 60).arg(minutes % 60);
}

QString JobProgressText::currentItem(const std::string& item)
{
    if (item.empty())
        return {};
    return QStringLiteral("圧縮中の項目: %1").arg(JobStatusText::inSentence(item));
}
