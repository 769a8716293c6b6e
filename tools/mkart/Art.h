// The product's own art: the wizard's logo and the program icon, drawn by code.
#pragma once
#include "Encode.h"

constexpr int kLogoWidth = 120;
constexpr int kLogoHeight = 260;

// The logo as straight RGBA, before its reduction to 256 colours.
Bytes DrawLogo();
// The logo as the setup stores it: a 256-colour palette PNG.
Bytes MakeLogoPNG();

// One square icon image, 16 to 256 pixels, straight RGBA.
IconImage DrawIcon(int size);
// 16, 32, 48 and 256 pixels.
Bytes MakeIcon();
