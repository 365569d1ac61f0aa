// Window geometry is designed in twips: 1,440 to the inch, 15 to a pixel at
// 96 dots per inch.
#pragma once

#include <QRect>

inline constexpr int kTwipsPerPixel = 15;

constexpr int TwipsToPixels(double twips) { return static_cast<int>(twips / kTwipsPerPixel + 0.5); }

constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}
