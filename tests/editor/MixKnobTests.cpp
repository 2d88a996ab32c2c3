#include "editor/EditorImages.h"
#include "editor/MixSegment.h"
#include "processor/PluginProcessor.h"
#include "tests/editor/ImageDifference.h"
#include "tests/editor/LiteralMixKnob.h"
#include "tests/editor/SyntheticMouse.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace
{
constexpr double pi = 3.14159265358979323846;
const juce::Rectangle<int> knobInWindow { 672, 151, 195, 195 };
// The ring's visible rim lies between the body's edge (radius about 63) and the
// ring's own edge (79) around the ring's centre.
const juce::Point<float> ringCentre { 98.0f, 98.0f };
constexpr float rimRadius = 72.0f;

struct Knob
{
    explicit Knob (double mix, double step = 1.0)
    {
        segment.setBounds (knobInWindow);
        segment.mixSlider.setRange (0.0, 100.0, step);
        segment.mixSlider.setValue (mix, juce::dontSendNotification);
    }

    MixSegment segment;
};

/** Paints the window background and then, over the knob's place, whatever draw draws. */
juce::Image paintInWindow (const std::function<void (juce::Graphics&)>& draw, float scale = 1.0f)
{
    static const auto background = EditorImages::load (BinaryData::temp_binary_data_64, BinaryData::temp_binary_data_64Size);

    juce::Image window (juce::Image::ARGB, juce::roundToInt (900 * scale), juce::roundToInt (567 * scale), true);
    juce::Graphics g (window);
    g.addTransform (juce::AffineTransform::scale (scale));
    EditorImages::drawFitted (g, background, { 0, 0, 900, 567 });
    g.setOrigin (knobInWindow.getPosition());
    g.reduceClipRegion (knobInWindow.withZeroOrigin());
    draw (g);
    return window;
}

/** The knob alone over black, in its own coordinates. */
juce::Image paintOverBlack (Knob& knob)
{
    juce::Image image (juce::Image::ARGB, 195, 195, true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::black);
    knob.segment.paintEntireComponent (g, false);
    return image;
}

/** Where a direction (0 at twelve o'clock, clockwise) at the given radius falls. */
juce::Point<int> pointAt (double direction, float radius)
{
    return { juce::roundToInt (ringCentre.x + radius * (float) std::sin (direction)),
             juce::roundToInt (ringCentre.y - radius * (float) std::cos (direction)) };
}

bool showsRing (const juce::Image& knob, double direction)
{
    const auto p = pointAt (direction, rimRadius);
    return knob.getPixelAt (p.x, p.y).getBlue() > 150;
}

/** The direction of the pointer tick, from the centroid of its cyan pixels on the body. */
double pointerDirection (const juce::Image& knob)
{
    double sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < knob.getHeight(); ++y)
        for (int x = 0; x < knob.getWidth(); ++x)
        {
            const auto distance = juce::Point<float> ((float) x + 0.5f, (float) y + 0.5f).getDistanceFrom ({ 97.5f, 97.5f });
            const auto c = knob.getPixelAt (x, y);
            if (distance > 38.0f && distance < 62.0f && c.getGreen() > c.getRed() + 80)
            {
                sumX += x + 0.5 - 97.5;
                sumY += y + 0.5 - 97.5;
                ++count;
            }
        }
    EXPECT_GT (count, 20.0);
    return std::atan2 (sumX, -sumY);
}

double wrappedDifference (double a, double b)
{
    return std::remainder (a - b, 2.0 * pi);
}
}

TEST (MixKnob, TurnsFromSixOClockClockwiseAllTheWayRound)
{
    MixSegment segment;
    const auto rotary = segment.mixSlider.getRotaryParameters();
    EXPECT_EQ (rotary.startAngleRadians, 3.1415927f);
    EXPECT_EQ (rotary.endAngleRadians, 9.424778f);
    EXPECT_TRUE (rotary.stopAtEnd);
    EXPECT_EQ (segment.mixSlider.getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    EXPECT_EQ (segment.mixSlider.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ (&segment.mixSlider.getLookAndFeel(), &segment.knobLookAndFeel);
}

TEST (MixKnob, PointerFollowsTheValue)
{
    // Independently: mix m points at pi * (1 + 2m / 100), measured clockwise from twelve o'clock.
    for (double mix : { 0.0, 12.0, 25.0, 50.0, 75.0, 88.0, 100.0 })
    {
        Knob knob (mix);
        const double expected = pi * (1.0 + 2.0 * mix / 100.0);
        EXPECT_NEAR (wrappedDifference (pointerDirection (paintOverBlack (knob)), expected), 0.0, 0.03)
            << "mix " << mix;
    }
}

TEST (MixKnob, RingShowsTheTravelReachedAndNothingElse)
{
    for (double mix : { 0.0, 50.0, 100.0 })
    {
        Knob knob (mix);
        const auto image = paintOverBlack (knob);
        const double reached = pi * (1.0 + 2.0 * mix / 100.0);

        // Sample the rim every 10 degrees round from six o'clock, clear of the cut.
        for (int degrees = 5; degrees < 360; degrees += 10)
        {
            const double direction = pi + degrees * pi / 180.0;
            if (std::abs (direction - reached) < 0.07)
                continue;
            EXPECT_EQ (showsRing (image, direction), direction < reached)
                << "mix " << mix << ", " << degrees << " degrees clockwise from six o'clock";
        }
    }
}

TEST (MixKnob, FullRingClosesAtSixOClock)
{
    Knob full (100.0), empty (0.0);
    EXPECT_TRUE (showsRing (paintOverBlack (full), pi));
    EXPECT_FALSE (showsRing (paintOverBlack (empty), pi));
}

TEST (MixKnob, DrawsWhatThePlainStepsDrawAtEveryValue)
{
    for (int mix = 0; mix <= 100; ++mix)
    {
        Knob knob (mix);
        const float angle = 3.1415927f + (float) mix / 100.0f * (9.424778f - 3.1415927f);
        const auto text = juce::String (mix) + ".0";

        const auto fast = paintInWindow ([&] (juce::Graphics& g) { knob.segment.paintEntireComponent (g, false); });
        const auto plain = paintInWindow ([&] (juce::Graphics& g)
                                          { drawMixKnobLiterally (g, knob.segment.knobLookAndFeel, angle, text, 195, 195); });
        ASSERT_LE (largestChannelDifference (fast, plain), 1) << "mix " << mix;
    }
}

TEST (MixKnob, DrawsWhatThePlainStepsDrawBetweenStepsAndOnScaledDisplays)
{
    for (float scale : { 1.0f, 2.0f, 1.5f })
        for (double mix : { 0.4, 18.75, 49.99, 50.01, 83.3, 99.6 })
        {
            Knob knob (mix, 0.0);
            const float angle = 3.1415927f + (float) (mix / 100.0) * (9.424778f - 3.1415927f);
            const auto text = juce::String (mix, 1);

            const auto fast = paintInWindow ([&] (juce::Graphics& g) { knob.segment.paintEntireComponent (g, false); }, scale);
            const auto plain = paintInWindow ([&] (juce::Graphics& g)
                                              { drawMixKnobLiterally (g, knob.segment.knobLookAndFeel, angle, text, 195, 195); },
                                              scale);
            ASSERT_LE (largestChannelDifference (fast, plain), 1) << "mix " << mix << ", scale " << scale;
        }
}

TEST (MixKnob, DragUpRaisesTheValueOverTheDefaultTravel)
{
    Knob knob (0.0);
    auto& slider = knob.segment.mixSlider;
    paintOverBlack (knob); // lays the slider out

    SyntheticMouse mouse (slider);
    const juce::Point<float> start (97.0f, 150.0f);
    mouse.press (start);
    EXPECT_EQ (slider.getValue(), 0.0);
    mouse.dragTo (start.translated (0.0f, -125.0f));
    EXPECT_NEAR (slider.getValue(), 50.0, 1e-9);
    mouse.dragTo (start.translated (0.0f, -300.0f));
    EXPECT_NEAR (slider.getValue(), 100.0, 1e-9);
    mouse.release (start.translated (0.0f, -300.0f));
}

TEST (MixKnob, DragReachesTheMixParameterThroughItsAttachment)
{
    MorvelAudioProcessor processor;
    MixSegment segment;
    segment.setBounds (knobInWindow);
    juce::AudioProcessorValueTreeState::SliderAttachment attachment (processor.parameterState, "Mix", segment.mixSlider);
    segment.mixSlider.setValue (0.0, juce::sendNotificationSync);

    SyntheticMouse mouse (segment.mixSlider);
    mouse.press ({ 97.0f, 150.0f });
    mouse.dragTo ({ 97.0f, 25.0f });
    mouse.release ({ 97.0f, 25.0f });
    EXPECT_NEAR (processor.parameterState.getRawParameterValue ("Mix")->load(), 50.0f, 1e-4f);
}

TEST (MixKnob, ImagesComeFromTheirOwnArtworkWithBodyAndPointerHalved)
{
    // Halved independently of the look-and-feel, at the same quality.
    auto load = [] (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); };
    auto halve = [] (const juce::Image& image)
    { return image.rescaled (image.getWidth() / 2, image.getHeight() / 2, juce::Graphics::highResamplingQuality); };

    const MixSliderLaF look;
    const auto ring = load (BinaryData::temp_binary_data_47, BinaryData::temp_binary_data_47Size);
    const auto pointer = halve (load (BinaryData::temp_binary_data_45, BinaryData::temp_binary_data_45Size));
    const auto body = halve (load (BinaryData::temp_binary_data_46, BinaryData::temp_binary_data_46Size));

    ASSERT_EQ (look.ringImage.getBounds(), juce::Rectangle<int> (316, 316));
    ASSERT_EQ (look.pointerImage.getBounds(), juce::Rectangle<int> (195, 195));
    ASSERT_EQ (look.knobImage.getBounds(), juce::Rectangle<int> (196, 196));
    EXPECT_EQ (largestChannelDifference (look.ringImage, ring), 0);
    EXPECT_EQ (largestChannelDifference (look.pointerImage, pointer), 0);
    EXPECT_EQ (largestChannelDifference (look.knobImage, body), 0);
}

TEST (MixKnob, SegmentPlacesTheKnobWhilePaintingOnly)
{
    MixSegment segment;
    segment.setBounds (knobInWindow);
    segment.resized();
    EXPECT_TRUE (segment.mixSlider.getBounds().isEmpty());
    EXPECT_TRUE (segment.mixSlider.isVisible());
    EXPECT_EQ (segment.getIndexOfChildComponent (&segment.mixSlider), 0);

    juce::Image scratch (juce::Image::ARGB, 195, 195, true);
    juce::Graphics g (scratch);
    segment.paintEntireComponent (g, false);
    EXPECT_EQ (segment.mixSlider.getBounds(), juce::Rectangle<int> (0, 0, 195, 195));
}
