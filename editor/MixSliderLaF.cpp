#include "editor/MixSliderLaF.h"

#include "editor/EditorImages.h"
#include "editor/ValueText.h"

#include <BinaryData.h>

#include <cmath>
#include <cstring>

namespace
{
const juce::Rectangle<int> ringArea { 19, 19, 158, 158 };
const juce::Rectangle<int> bodyArea { 0, 0, 196, 196 };
const juce::Point<float> pointerPivot { 97.5f, 97.5f };
constexpr float valueFontHeight = 20.0f;

juce::Image halved (const juce::Image& image)
{
    if (! image.isValid())
        return image;

    return image.rescaled (image.getWidth() / 2, image.getHeight() / 2, juce::Graphics::highResamplingQuality);
}

/** The smallest rectangle holding every pixel with a non-zero alpha. */
juce::Rectangle<int> inkBounds (const juce::Image& image)
{
    if (! image.isValid() || ! image.hasAlphaChannel())
        return image.getBounds();

    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    juce::Rectangle<int> ink;

    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
            if (pixels.getPixelColour (x, y).getAlpha() != 0)
                ink = ink.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1)
                                    : ink.getUnion ({ x, y, 1, 1 });
    return ink;
}

/**
    Edge-table callback that clears, in an ARGB image, exactly the pixels that a
    white fill of the same edge table would leave with a non-zero alpha in a
    cleared mask. The fill rounds differently for single pixels and for runs: a
    lone pixel at coverage 1 of 255 blends to alpha 0, whereas any run, however
    faint, keeps an alpha of at least 1.
*/
struct EraseUnderWhiteFill
{
    juce::Image::BitmapData& pixels;
    juce::uint8* line = nullptr;

    void setEdgeTableYPos (int y) noexcept                    { line = pixels.getLinePointer (y); }
    void handleEdgeTablePixel (int x, int coverage) noexcept  { if (coverage >= 2) erase (x, 1); }
    void handleEdgeTablePixelFull (int x) noexcept            { erase (x, 1); }
    void handleEdgeTableLine (int x, int width, int) noexcept { erase (x, width); }
    void handleEdgeTableLineFull (int x, int width) noexcept  { erase (x, width); }

    void erase (int x, int width) noexcept
    {
        std::memset (line + x * pixels.pixelStride, 0, (size_t) (width * pixels.pixelStride));
    }
};

/**
    Halves an ARGB image exactly as the renderer's bilinear filter does when it
    draws the image at half size on whole pixels: there every display pixel is the
    rounded mean of a two-by-two block, each channel on its own. Two channels at a
    time share one 32-bit word, each in its own 16 bits, which four bytes cannot
    overflow.
*/
void halveByBlocks (const juce::Image& from, juce::Image& to)
{
    const juce::Image::BitmapData source (from, juce::Image::BitmapData::readOnly);
    juce::Image::BitmapData destination (to, juce::Image::BitmapData::writeOnly);
    constexpr juce::uint32 pair = 0x00ff00ff, rounding = 0x00020002;

    for (int y = 0; y < destination.height; ++y)
    {
        const auto* upper = reinterpret_cast<const juce::uint32*> (source.getLinePointer (2 * y));
        const auto* lower = reinterpret_cast<const juce::uint32*> (source.getLinePointer (2 * y + 1));
        auto* out = reinterpret_cast<juce::uint32*> (destination.getLinePointer (y));

        for (int x = 0; x < destination.width; ++x)
        {
            const auto a = upper[2 * x], b = upper[2 * x + 1], c = lower[2 * x], d = lower[2 * x + 1];
            const auto even = (a & pair) + (b & pair) + (c & pair) + (d & pair) + rounding;
            const auto odd = ((a >> 8) & pair) + ((b >> 8) & pair) + ((c >> 8) & pair) + ((d >> 8) & pair) + rounding;
            out[x] = ((even >> 2) & pair) | (((odd >> 2) & pair) << 8);
        }
    }
}

void copyPixels (const juce::Image& from, juce::Image& to)
{
    const juce::Image::BitmapData source (from, juce::Image::BitmapData::readOnly);
    juce::Image::BitmapData destination (to, juce::Image::BitmapData::writeOnly);

    for (int y = 0; y < source.height; ++y)
        std::memcpy (destination.getLinePointer (y), source.getLinePointer (y),
                     (size_t) (source.width * source.pixelStride));
}
}

MixSliderLaF::MixSliderLaF()
    : ringImage (EditorImages::load (BinaryData::temp_binary_data_47, BinaryData::temp_binary_data_47Size)),
      pointerImage (halved (EditorImages::load (BinaryData::temp_binary_data_45, BinaryData::temp_binary_data_45Size))),
      knobImage (halved (EditorImages::load (BinaryData::temp_binary_data_46, BinaryData::temp_binary_data_46Size)))
{
    if (ringImage.getFormat() == juce::Image::ARGB)
    {
        ringCut = juce::Image (juce::Image::ARGB, ringImage.getWidth(), ringImage.getHeight(), false,
                               juce::SoftwareImageType());

        if (ringImage.getBounds() == ringArea.withZeroOrigin() * 2)
            ringHalf = juce::Image (juce::Image::ARGB, ringArea.getWidth(), ringArea.getHeight(), false,
                                    juce::SoftwareImageType());
    }

    pointerInk = inkBounds (pointerImage);
}

MixSliderLaF::~MixSliderLaF() = default;

juce::Path MixSliderLaF::unreachedTravel (float angle)
{
    juce::Path slice;
    slice.startNewSubPath (158.0f, 158.0f);
    slice.addCentredArc (158.0f, 158.0f, 160.0f, 160.0f, 0.0f, angle, travelEnd, false);
    slice.closeSubPath();
    return slice;
}

void MixSliderLaF::drawRotarySlider (juce::Graphics& g, int, int, int, int, float sliderPos,
                                     float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider)
{
    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);

    drawRing (g, angle);
    EditorImages::drawFitted (g, knobImage, bodyArea);
    drawPointer (g, angle);
    ValueText::draw (g, slider.getValue(), valueFontHeight,
                     { slider.getWidth() / 2 - 30, slider.getHeight() / 2 - 10, 60, 20 });
}

void MixSliderLaF::drawRing (juce::Graphics& g, float angle)
{
    if (! ringCut.isValid())
    {
        // Only an ARGB ring can be cut; any other is drawn whole.
        EditorImages::drawFitted (g, ringImage, ringArea);
        return;
    }

    copyPixels (ringImage, ringCut);
    {
        // The edge table is the one a fill of the slice into a cleared mask of the
        // ring's size would rasterise; walking it directly skips the mask.
        const juce::EdgeTable unreached (ringImage.getBounds(), unreachedTravel (angle), {});
        juce::Image::BitmapData pixels (ringCut, juce::Image::BitmapData::readWrite);
        EraseUnderWhiteFill eraser { pixels };
        unreached.iterate (eraser);
    }

    // On a context that maps one pixel to one display pixel (components are placed on
    // whole pixels), halving the cut ring ourselves gives the very pixels that the
    // scaled drawing would, at a fraction of the cost; any other scale keeps the
    // framework's own resampling.
    if (ringHalf.isValid() && g.getInternalContext().getPhysicalPixelScaleFactor() == 1.0f)
    {
        halveByBlocks (ringCut, ringHalf);
        g.drawImageAt (ringHalf, ringArea.getX(), ringArea.getY());
    }
    else
    {
        EditorImages::drawFitted (g, ringCut, ringArea);
    }
}

void MixSliderLaF::drawPointer (juce::Graphics& g, float angle)
{
    if (pointerInk.isEmpty())
        return;

    const auto turn = juce::AffineTransform::rotation (angle, pointerPivot.x, pointerPivot.y);

    // The turned image is otherwise drawn over its whole 195-pixel square, almost all
    // of it transparent. A pixel takes its colour from the image pixels within one
    // pixel of where it maps, so outside the turned ink, grown by two pixels, the
    // drawing changes nothing. Only whole rows are left out: spans within a row stay
    // as they were, and with them every drawn value.
    const auto reach = pointerInk.toFloat().expanded (2.0f).transformedBy (turn);
    const auto clip = g.getClipBounds();
    const int top = (int) std::floor (reach.getY()) - 1;
    const int bottom = (int) std::ceil (reach.getBottom()) + 1;

    juce::Graphics::ScopedSaveState saved (g);
    if (g.reduceClipRegion (clip.getX(), top, clip.getWidth(), bottom - top))
        g.drawImageTransformed (pointerImage, turn);
}
