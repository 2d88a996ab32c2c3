#include "editor/IOSliderLaF.h"

#include "editor/EditorImages.h"
#include "editor/ValueText.h"

#include <BinaryData.h>

namespace
{
constexpr int thumbWidth = 77, thumbHeight = 76;
constexpr float thumbHalfHeight = 38.0f;
constexpr float valueFontHeight = 13.0f;
}

IOSliderLaF::IOSliderLaF()
    : thumbImage (EditorImages::load (BinaryData::temp_binary_data_42, BinaryData::temp_binary_data_42Size))
{
}

IOSliderLaF::~IOSliderLaF() = default;

int IOSliderLaF::thumbTop (const juce::Slider& slider, int travelY, int travelHeight)
{
    const double value = slider.getValue(), lo = slider.getMinimum(), hi = slider.getMaximum();

    // A range without extent has no travel: the thumb sits at the bottom.
    const double above = hi > lo ? (value - lo) * travelHeight / (hi - lo) : 0.0;
    const float centre = (float) ((travelY + travelHeight) - above);
    return (int) (centre - thumbHalfHeight);
}

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
    layout.sliderBounds = { 0, 25, slider.getWidth(), slider.getHeight() - 58 };
    layout.textBoxBounds = {};
    return layout;
}
