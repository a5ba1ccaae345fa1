#pragma once

class QString;

// Tells the user something while the window is out of sight.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& title, const QString& text) = 0;
};
