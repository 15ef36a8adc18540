#pragma once
// The maker's web site, opened from the status bar and the menu item
// "Quorlin官网".
#include <QUrl>

QUrl makerSite();
// Opens the site in the default browser; whether one was found is not our
// concern.
void openMakerSite();
