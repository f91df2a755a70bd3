#pragma once

class QScreen;

// The screen the user works on: the one under the pointer, else the primary screen; none
// when the application has no screen at all.
QScreen* mainScreen();
