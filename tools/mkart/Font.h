// The art's own lettering: a geometric stroke font (round caps and joins)
// covering the letters the logo needs (others are blank spaces).
#pragma once
#include "Canvas.h"
#include <string>
#include <vector>

struct TextStyle {
    float xHeight = 10; // pixels
    float weight = 2;   // stroke width in pixels
    float tracking = 1; // extra pixels between letters
};

float TextWidth(const std::u32string& text, const TextStyle& style);
// One shape per letter, the text's baseline starting at origin.
std::vector<Shape> TextShapes(const std::u32string& text, Vec origin, const TextStyle& style);
