#pragma once

#include <QSize>

class QLayout;
class QScreen;
class QWidget;
class ViewController;

// Where the window's controls go, what they are called for assistive
// technology, and how the window fits the screen. The controls are the
// window's own; this only arranges and names them.
class WindowLayout {
public:
    // Lays the controls out inside the window's scroll area.
    static void build(ViewController& view);
    // Names and describes every control, in the order Tab visits them.
    static void setAccessibility(ViewController& view);
    // The size the content asks for, or the screen's free area if smaller:
    // the rest scrolls.
    static void fitToScreen(ViewController& view);
    // The most a window may take of screen: room for the title bar and the
    // borders is left.
    static QSize roomOn(const QScreen* screen);

private:
    static QWidget* buildContent(ViewController& view);
    static QWidget* buildDropArea(ViewController& view, QWidget* parent);
    static QLayout* buildChooseRow(ViewController& view);
    static QLayout* buildOptions(ViewController& view);
    static QLayout* buildPasswordRow(ViewController& view);
    static QLayout* buildAboutRow(ViewController& view);
};
