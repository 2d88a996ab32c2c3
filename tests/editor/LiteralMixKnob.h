#pragma once

#include "editor/MixSliderLaF.h"
#include "tests/editor/LiteralPartialImage.h"

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The mix knob drawn the plain way, each step as it reads: the whole ring copied
    and cut through a full-size mask, the whole pointer square turned. Tests hold the
    knob's own drawing against this pixel by pixel; the paint benchmarks show what
    the cheaper drawing saves. Uses the look-and-feel's images, which are loaded and
    halved once, and prints the given text rather than formatting the value.
*/
inline void drawMixKnobLiterally (juce::Graphics& g, const MixSliderLaF& images, float angle,
                                  const juce::String& text, int width, int height)
{
    juce::Path unreached;
    unreached.startNewSubPath (158.0f, 158.0f);
    unreached.addCentredArc (158.0f, 158.0f, 160.0f, 160.0f, 0.0f, angle, 9.424778f, false);
    unreached.closeSubPath();

    const auto fill = juce::RectanglePlacement::fillDestination;
    g.drawImageWithin (cutAwayLiterally (images.ringImage, unreached), 19, 19, 158, 158, fill);
    g.drawImageWithin (images.knobImage, 0, 0, 196, 196, fill);
    g.drawImageTransformed (images.pointerImage, juce::AffineTransform::rotation (angle, 97.5f, 97.5f));

    g.setColour (juce::Colour (0xff6f81f9));
    g.setFont (20.0f);
    g.drawFittedText (text, { width / 2 - 30, height / 2 - 10, 60, 20 }, juce::Justification::centred, 1);
}
