#include "editor/IOSliderLaF.h"

#include "editor/EditorImages.h"
#include "editor/ValueText.h"

#include <BinaryData.h>

#include <algorithm>
#include <cmath>

namespace
{
constexpr int thumbWidth = 77, thumbHeight = 76;
constexpr float thumbHalfHeight = 38.0f;
constexpr float valueFontHeight = 13.0f;

/** The top of the thumb for the slider's value, in the fader's coordinates. */
int thumbTop (const juce::Slider& slider, int travelY, int travelHeight)
{
    const double value = slider.getValue(), lo = slider.getMinimum(), hi = slider.getMaximum();

    // A range without extent, or a value that is no number, puts the thumb at the bottom.
    double above = hi > lo ? (value - lo) * travelHeight / (hi - lo) : 0.0;
    if (! std::isfinite (above))
        above = 0.0;

    const float centre = (float) ((travelY + travelHeight) - above);
    return (int) (centre - thumbHalfHeight);
}
}

IOSliderLaF::IOSliderLaF()
    : thumbImage (EditorImages::load (BinaryData::temp_binary_data_42, BinaryData::temp_binary_data_42Size))
{
}

IOSliderLaF::~IOSliderLaF() = default;

void IOSliderLaF::drawLinearSlider (juce::Graphics& g, int, int y, int, int height, float, float, float,
                                    juce::Slider::SliderStyle, juce::Slider& slider)
{
    const juce::Rectangle<int> thumb (0, thumbTop (slider, y, height), thumbWidth, thumbHeight);

    if (thumbImage.isValid())
        EditorImages::drawFitted (g, thumbImage, thumb);

    ValueText::draw (g, slider.getValue(), valueFontHeight, thumb);
}

juce::Slider::SliderLayout IOSliderLaF::getSliderLayout (juce::Slider& slider)
{
    juce::Slider::SliderLayout layout;
    // A fader too short for any travel (one not yet laid out) gets none, not a negative one.
    layout.sliderBounds = { 0, 25, slider.getWidth(), std::max (0, slider.getHeight() - 58) };
    layout.textBoxBounds = {};
    return layout;
}
