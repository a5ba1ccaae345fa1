#pragma once

// Asks whether to quit while an archive is being made.
class QuitConfirmation {
public:
    virtual ~QuitConfirmation() = default;
    // True when the user wants to quit anyway.
    virtual bool confirmQuit() = 0;
};
