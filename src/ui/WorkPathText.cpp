#include "WorkPathText.h"

#include "JobStatusText.h"
#include "WorkFolders.h"

#include <QRegularExpression>
#include <QStringList>

QString WorkPathText::withoutWorkPaths(const std::string& description)
{
    // The work folder of this user, or any other one named in the text:
    // a path runs to the end of the line or to ", " before the next part.
    const QString root = JobStatusText::path(WorkFolders::ofCurrentUser().tmpDirectory());
    const QString rootPattern = QRegularExpression::escape(root) + QStringLiteral("|\\S*/\\.quillmere");
    static const QString rest = QStringLiteral("((?:/(?:(?!, )[^/\\n])+)*)/?");
    const QRegularExpression workPath(QStringLiteral("(?:%1)%2").arg(rootPattern, rest));
    QString text = JobStatusText::path(description);
    QString cleaned;
    qsizetype from = 0;
    for (QRegularExpressionMatchIterator it = workPath.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        cleaned += text.mid(from, match.capturedStart() - from);
        // Below the work root: the job's staging folder, its output folder,
        // the content folder "archive", then the item's own path.
        QStringList parts = match.captured(1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const qsizetype archive = parts.indexOf(QStringLiteral("archive"));
        if (archive >= 0 && archive + 1 < parts.size())
            cleaned += QStringLiteral("アーカイブ内の %1").arg(parts.mid(archive + 1).join(QLatin1Char('/')));
        else
            cleaned += QStringLiteral("作業用フォルダ ~/.quillmere");
        from = match.capturedEnd();
    }
    return cleaned + text.mid(from);
}
