#pragma once

#include <QRect>

namespace varnook::ui {

// Window measures are kept in twips, 1/1440 inch: 15 to a logical pixel.
inline constexpr int kTwipsPerPixel = 15;

inline int px(double twips)
{
    return static_cast<int>(twips / kTwipsPerPixel + (twips >= 0 ? 0.5 : -0.5));
}

inline double twips(int pixels)
{
    return static_cast<double>(pixels) * kTwipsPerPixel;
}

// A control's place, given in twips.
inline QRect twipRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace varnook::ui
