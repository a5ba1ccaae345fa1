#include "ReportJson.h"

#include "ReportLines.h"
#include "Utf8Sequence.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue text(const std::string& bytes) { return Utf8Sequence::decoded(bytes); }

const char* kindText(JobOutcome::Kind kind)
{
    switch (kind) {
    case JobOutcome::Kind::Delivered:
        return "delivered";
    case JobOutcome::Kind::Failed:
        return "failed";
    case JobOutcome::Kind::Cancelled:
        return "cancelled";
    case JobOutcome::Kind::Stopped:
        return "stopped";
    }
    return "";
}

QJsonArray itemsOf(const JobReport& report, QJsonArray& leftOut, QJsonArray& warnings)
{
    QJsonArray renamed;
    for (const RenamedItem& item : report.renamed)
        renamed.append(QJsonObject{{"original", text(item.original)}, {"inArchive", text(item.inArchive)}});
    for (const LeftOutItem& item : report.leftOut)
        leftOut.append(QJsonObject{
            {"path", text(item.path)}, {"reason", ReportLines::reasonText(item.reason)}, {"detail", text(item.detail)}});
    for (const WarnedItem& item : report.warnings) {
        QJsonObject warning{{"inArchive", text(item.inArchive)}, {"warning", ReportLines::warningText(item.warning)},
                            {"length", item.length}};
        if (item.warning == WindowsWarning::DateOutOfRange)
            warning.insert("date", text(ReportLines::dateText(item.modified)));
        warnings.append(warning);
    }
    return renamed;
}

QJsonValue failureOf(const JobOutcome& outcome)
{
    if (outcome.kind != JobOutcome::Kind::Failed)
        return QJsonValue::Null;
    return QJsonObject{{"cause", ReportLines::causeText(outcome.cause)}, {"description", text(outcome.description)}};
}

} // namespace

std::string ReportJson::of(const JobOutcome& outcome)
{
    QJsonArray leftOut;
    QJsonArray warnings;
    const QJsonArray renamed = itemsOf(outcome.report, leftOut, warnings);
    const bool delivered = outcome.kind == JobOutcome::Kind::Delivered;
    const QJsonObject object{
        {"result", kindText(outcome.kind)},
        {"archive", delivered ? text(outcome.archivePath) : QJsonValue::Null},
        {"encrypted", delivered && outcome.encrypted},
        {"files", outcome.report.fileCount},
        {"folders", outcome.report.folderCount},
        {"renamed", renamed},
        {"leftOut", leftOut},
        {"warnings", warnings},
        {"failure", failureOf(outcome)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
