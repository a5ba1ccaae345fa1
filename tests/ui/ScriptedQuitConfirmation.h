#pragma once

#include "QuitConfirmation.h"

// Answers the quit question as the test decided and counts the questions.
class ScriptedQuitConfirmation : public QuitConfirmation {
public:
    bool confirmQuit() override
    {
        ++asked;
        return answer;
    }

    bool answer = false;
    int asked = 0;
};
