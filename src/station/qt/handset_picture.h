// The window's picture: a handset outline, drawn rather than loaded so the view needs no files.
#pragma once

#include <QPixmap>

constexpr int kPictureWidth = 68;
constexpr int kPictureHeight = 122;

QPixmap handset_picture();
