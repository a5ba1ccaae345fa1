#pragma once

class QMessageBox;
class QWidget;

// Asks whether to quit while an archive is being made.
class QuitQuestion {
public:
    // The question's object name, by which the window finds it.
    static constexpr const char* kObjectName = "quitQuestion";

    // Shows the question over window; true when the user chose to quit.
    // Enter, Escape and the close button keep the work going.
    static bool ask(QWidget* window);

    // The question as a box: the button named "quit" quits, "stay" stays.
    static QMessageBox* make(QWidget* window);
};
