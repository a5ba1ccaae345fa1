#pragma once

// What the tests of whole jobs look at after a job: its work folder, its
// lines, and its archive as python's zipfile reads it.
#include "JobRun.h"
#include "WorkFolders.h"
#include "WorkRoot.h"

#include <QProcess>

#include <algorithm>
#include <optional>
#include <string>

// The work folders of the home folder a job sees now.
inline WorkFolders workFolders()
{
    return WorkFolders(qgetenv("HOME").toStdString());
}

inline QStringList leftInWorkRoot()
{
    return leftInWorkRoot(workFolders().tmpDirectory());
}

inline long linesStarting(const JobRun& job, const std::string& start)
{
    return std::ranges::count_if(job.lines, [&](const std::string& line) { return line.starts_with(start); });
}

// The SHA-256 of every file entry's data, sorted, as python's zipfile reads
// it: a reader that shares nothing with the job. The password (UTF-8) is
// given as its bytes in encoding, as a receiver's system would give them,
// and goes on standard input, not on a command line. One line saying why
// when any entry cannot be read, a wrong password's too.
inline QList<QByteArray> entryDigests(const std::string& archive, const std::optional<std::string>& password = {},
                                      const char* encoding = "cp932")
{
    QProcess python;
    python.start("python3", {"-c",
                             "import hashlib, sys, unicodedata, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "typed = sys.stdin.buffer.read().decode('utf-8')\n"
                             "try:\n"
                             "    key = typed.encode(sys.argv[2])\n"
                             "except UnicodeEncodeError:\n"
                             "    key = unicodedata.normalize('NFC', typed).encode(sys.argv[2])\n"
                             "for info in z.infolist():\n"
                             "    if not info.is_dir():\n"
                             "        print(hashlib.sha256(z.read(info, key or None)).hexdigest())\n",
                             QString::fromStdString(archive), QString::fromLatin1(encoding)});
    python.write(QByteArray::fromStdString(password.value_or("")));
    python.closeWriteChannel();
    if (!python.waitForFinished(120000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {"unreadable: " + python.readAllStandardError()};
    QList<QByteArray> digests = python.readAllStandardOutput().trimmed().split('\n');
    std::sort(digests.begin(), digests.end());
    return digests;
}

inline bool opensWithPasswordAs(const std::string& archive, const std::string& password, const char* encoding)
{
    return !entryDigests(archive, password, encoding).value(0).startsWith("unreadable: ");
}
