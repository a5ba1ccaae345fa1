#pragma once

#include "JobOutcome.h"

#include <QString>

#include <chrono>
#include <optional>
#include <string>

// The Japanese wording of a running job's progress.
class JobProgressText {
public:
    // The phase, and the time left once it is known: "圧縮中 — 残り約 40 秒".
    static QString running(JobPhase phase, std::optional<std::chrono::seconds> left);
    // "残り約 40 秒", "残り約 3 分", rounded so that it does not flicker.
    static QString timeLeft(std::chrono::seconds left);
    // The item being compressed, as a path below the given items.
    static QString currentItem(const std::string& item);
};
