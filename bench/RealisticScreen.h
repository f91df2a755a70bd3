#pragma once

#include <QImage>

// Screenshots as a user makes them: at bench time, real X clients (terminals full of text, a
// calculator, a clock, an image viewer showing a photo-like wallpaper) are laid out on the X
// screen, the screen is read, and the clients are stopped again. Needs an X screen of at
// least 3840 x 2160 (bench/run.sh starts one); elsewhere the images are null.
class RealisticScreen {
public:
    // The whole 3840 x 2160 screen, and its top-left 1920 x 1080 quarter (a terminal, the
    // calculator, the clock and wallpaper), made once per run.
    static const RealisticScreen& shared();
    static bool isFourKXScreen();

    QImage screen4K;
    QImage screen1080p;
    QString skipReason;

    // A photo-like picture: soft shapes and colour with a film grain.
    static QImage photoLikeWallpaper(QSize size);

private:
    RealisticScreen();
};
