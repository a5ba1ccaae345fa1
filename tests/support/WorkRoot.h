#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

#include <string>

// What a work folder (~/.quillmere) holds besides its journal folder, and
// the records in the journal: nothing but the instance lock, if any, once
// every job has ended and removed what it made.
inline QStringList leftInWorkRoot(const std::string& workRoot)
{
    const QString root = QFile::decodeName(QByteArray::fromStdString(workRoot));
    const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    QStringList left = QDir(root).entryList(all);
    left.removeAll("journal");
    for (const QString& record : QDir(root + "/journal").entryList(all))
        left << "journal/" + record;
    return left;
}
