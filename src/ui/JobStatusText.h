#pragma once

#include "JobOutcome.h"
#include "PasswordRule.h"

#include <QString>

#include <string>

// The Japanese wording of what the jobs are doing and how they ended, shared
// by the window and the desktop notification. Nothing here is shown in
// English: the system's own descriptions only go into the technical detail.
class JobStatusText {
public:
    // "コピー中", "圧縮中", ...
    static QString phase(JobPhase phase);
    // No job is running.
    static QString ready();
    // "待機中: N 件".
    static QString waiting(int count);
    // A waiting job in its list, told apart from others of the same first
    // item: where its items are and how many there are.
    static QString waitingEntry(const std::vector<std::string>& paths);
    // Said when the user took a job off the list.
    static QString removedFromWaiting(const QString& entry, int remaining);

    // The first line of a finished job's result: what became of the
    // request. Empty for a cancelled folder chooser, which needs no word.
    static QString headline(const JobOutcome& outcome);
    // One line that keeps a failure, or an archive that lacks items, in
    // view once the next job has taken the result's place: the job's first
    // item and the headline. Empty for any other outcome.
    static QString summary(const JobOutcome& outcome);
    // What the user can do about a failure, or for a delivered job where it
    // went and what it holds.
    static QString remedy(const JobOutcome& outcome, PasswordRule::Problem password);
    // What the delivered archive holds, renamed items and left-out items
    // by their numbers: "ファイル 5 個、フォルダ 3 個、2 個の名前を変えました".
    static QString contents(const JobReport& report);
    // Under an encrypted result: how the receiver opens it, and how the
    // password should travel. Empty for other results.
    static QString receiverNote(const JobOutcome& outcome);
    // The technical detail of a failure, for the expandable area: the phase
    // it failed in and the system's own description, with the work
    // folder's internal paths left out.
    static QString technicalDetail(const JobOutcome& outcome);

    // Why a password cannot encrypt, with what to do; empty when it can.
    static QString passwordProblem(PasswordRule::Problem problem);
    // The note for a password with Japanese characters: what the receiver types.
    static QString passwordWindowsWarning();
    // The note while the window does not know whether to encrypt.
    static QString encryptionUnknown();

    // A path as the file system's bytes, for display.
    static QString path(const std::string& bytes);
    // A name or path as it stands inside a sentence: one with letters
    // written right to left, or with direction controls of its own, is
    // isolated, so that it cannot reorder the words around it.
    static QString inSentence(const std::string& bytes);

private:
    static QString failureHeadline(const JobOutcome& outcome);
    // "圧縮", "暗号化", ...: the phase as a noun, for "失敗した段階".
    static QString phaseNoun(JobPhase phase);
    // Items the user gave that are not in the archive (one given twice is).
    static int lostCount(const JobReport& report);
    static QString failureRemedy(const JobOutcome& outcome, PasswordRule::Problem password);
    // Which folder lacks how much space, as a sentence; empty when unknown.
    static QString shortage(const JobOutcome& outcome);
};
