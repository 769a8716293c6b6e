// Panels, bevels and the image control: drawn by the framework itself.
#pragma once
#include "Controls.h"
#include "PNG.h"
#include <memory>

enum TPanelBevel : std::uint8_t { bvNone = 0, bvLowered = 1, bvRaised = 2 };
enum TBevelShape : std::uint8_t { bsBox = 0, bsLeftLine = 1 };

class TPanel : public TCustomControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TPanel(TComponent* owner);

    TPanelBevel BevelInner = bvNone;
    TPanelBevel BevelOuter = bvNone;
    void SetColorProperty(std::int32_t color) { SetColor(color); }

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint(TCanvas& canvas) override;
};

class TBevel : public TGraphicControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TBevel(TComponent* owner);

    TBevelShape Shape() const { return shape_; }
    void SetShape(TBevelShape shape);
    void Paint(TCanvas& canvas) override;

private:
    TBevelShape shape_ = bsBox;
};

// A decoded PNG: the palette image as read, and its 24-bit form once painted.
class TPNGImage {
public:
    // Throws EPNGError (or EStreamError) for data it cannot decode.
    void LoadFromStream(TStream& stream);
    const TPaletteImage& Image() const { return image_; }
    bool Empty() const { return image_.Width == 0; }
    // The picture resampled to a size, with the finishing step; kept for repaints.
    const TRGBImage& Rendered(int width, int height);

private:
    TPaletteImage image_;
    TRGBImage rgb_;
    TRGBImage rendered_;
};

class TImage : public TGraphicControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TImage(TComponent* owner);

    TPNGImage* Picture = nullptr; // not owned
    void Paint(TCanvas& canvas) override;
};

// Draws a 24-bit image at (x, y) of a device context.
void DrawRGBImage(HDC dc, int x, int y, const TRGBImage& image);
