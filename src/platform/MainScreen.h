#pragma once

class QScreen;
class QWidget;

// The screen the user works on: the one under the pointer, else the primary screen; none
// when the application has no screen at all.
QScreen* mainScreen();

// Centres a top-level window on the main screen; leaves it where it is when there is no
// screen.
void centerOnMainScreen(QWidget* window);
