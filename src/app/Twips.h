#pragma once
// Window layouts are given in twips: 15 twips make one pixel (at 96 dots per inch).

#include <QRect>

inline constexpr int kTwipsPerPixel = 15;

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}
