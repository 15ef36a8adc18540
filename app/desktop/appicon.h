#pragma once
// The program's own pictures (drawn by tools/make-icons.sh).
#include <QIcon>

// The window and application icon, in 16, 32, 48 and 128 pixels.
QIcon appIcon();
// The 16 × 16 picture of the notification-area icon.
QIcon trayPicture();
