#pragma once

class QString;

// Asks the user whether to go to the update page. Kept behind an interface so
// the check can be driven without a person clicking.
class UpdateNotice
{
public:
    virtual ~UpdateNotice();

    // Shows the notice and returns once it is closed: true when the user chose
    // the confirming button, false for the closing one or any other way out.
    virtual bool confirm(const QString& text, const QString& informativeText,
                         const QString& confirmLabel, const QString& closeLabel) = 0;
};
