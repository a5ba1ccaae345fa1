#pragma once

#include <QString>

#include <functional>

// A message for the user while the window is out of sight, with an optional
// action the notification offers as a button where the desktop supports it.
struct Notification {
    QString title;
    QString text;
    QString actionLabel;         // empty: no action
    std::function<void()> action; // run when the user chooses it
};
