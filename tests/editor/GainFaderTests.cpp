#include "editor/IOSegment.h"
#include "tests/editor/ImageDifference.h"
#include "tests/editor/SyntheticMouse.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
/** The segment as the editor uses it: faders with the gain parameters' range and step. */
struct Segment
{
    Segment()
    {
        segment.setBounds (50, 100, 220, 410);
        segment.setVisible (true);
        for (auto* fader : { &segment.inputSlider, &segment.outputSlider })
            fader->setRange (-20.0, 20.0, 0.01);
        lay();
    }

    /** The segment lays out its children while painting. */
    void lay()
    {
        juce::Image scratch (juce::Image::ARGB, 220, 410, true);
        juce::Graphics g (scratch);
        segment.paintEntireComponent (g, false);
    }

    IOSegment segment { nullptr };
};

juce::Image paintAlone (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::black);
    component.paintEntireComponent (g, false);
    return image;
}

/** What a fader should show: the thumb at half size with its top at the given row, the text on it. */
juce::Image expectedFader (int thumbTop, const juce::String& text)
{
    const auto thumb = juce::ImageCache::getFromMemory (BinaryData::temp_binary_data_42, BinaryData::temp_binary_data_42Size);
    juce::Image image (juce::Image::ARGB, 77, 370, true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::black);
    g.drawImage (thumb, juce::Rectangle<float> (0.0f, (float) thumbTop, 77.0f, 76.0f));
    g.setColour (juce::Colour (111, 129, 249));
    g.setFont (13.0f);
    g.drawFittedText (text, { 0, thumbTop, 77, 76 }, juce::Justification::centred, 1);
    return image;
}

juce::Image expectedToggle (const void* data, int size)
{
    juce::Image image (juce::Image::ARGB, 38, 49, true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::black);
    g.drawImage (juce::ImageCache::getFromMemory (data, size), juce::Rectangle<float> (0.0f, 0.0f, 38.0f, 49.0f));
    return image;
}

}

TEST (GainFader, ThumbAndItsValueFollowTheGain)
{
    // Independently: the thumb's centre is 337 at -20 dB and 25 at +20 dB, 312 pixels
    // of travel, and the 76-pixel thumb's top is 38 above its centre.
    struct Case { double gain; int top; const char* text; };
    for (auto c : { Case { -20.0, 299, "-20.0" }, Case { 0.0, 143, "0.0" }, Case { 20.0, -13, "20.0" },
                    Case { -7.26, 199, "-7.3" } })
    {
        Segment s;
        for (auto* fader : { &s.segment.inputSlider, &s.segment.outputSlider })
        {
            fader->setValue (c.gain, juce::dontSendNotification);
            EXPECT_LE (largestChannelDifference (paintAlone (*fader), expectedFader (c.top, c.text)), 1)
                << "gain " << c.gain;
        }
    }
}

TEST (GainFader, SegmentPlacesMeterFadersAndToggleWhilePainting)
{
    IOSegment segment (nullptr);
    segment.setBounds (50, 100, 220, 410);
    segment.resized();
    EXPECT_TRUE (segment.inputSlider.getBounds().isEmpty());

    Segment s;
    auto& seg = s.segment;
    EXPECT_EQ (seg.meter.getBounds(), juce::Rectangle<int> (0, 0, 220, 410));
    EXPECT_EQ (seg.inputSlider.getBounds(), juce::Rectangle<int> (12, 24, 77, 370));
    EXPECT_EQ (seg.outputSlider.getBounds(), juce::Rectangle<int> (86, 24, 77, 370));
    EXPECT_EQ (seg.linkButton.getBounds(), juce::Rectangle<int> (68, 178, 38, 49));

    // Bottom to top: the meter, the faders, the toggle.
    ASSERT_EQ (seg.getNumChildComponents(), 4);
    // The faders overlap by three pixels, where the output fader lies on top.
    EXPECT_EQ (seg.getChildComponent (0), &seg.meter);
    EXPECT_EQ (seg.getChildComponent (1), &seg.inputSlider);
    EXPECT_EQ (seg.getChildComponent (2), &seg.outputSlider);
    EXPECT_EQ (seg.getChildComponent (3), &seg.linkButton);
    EXPECT_TRUE (seg.meter.isVisible() && seg.inputSlider.isVisible() && seg.outputSlider.isVisible()
                 && seg.linkButton.isVisible());
}

TEST (GainFader, HasTheThumbsTravelAndNoTextBox)
{
    Segment s;
    auto& fader = s.segment.inputSlider;
    EXPECT_EQ (fader.getSliderStyle(), juce::Slider::LinearVertical);
    EXPECT_EQ (&fader.getLookAndFeel(), &s.segment.sliderLookAndFeel);

    const auto layout = s.segment.sliderLookAndFeel.getSliderLayout (fader);
    EXPECT_EQ (layout.sliderBounds, juce::Rectangle<int> (0, 25, 77, 312));
    EXPECT_TRUE (layout.textBoxBounds.isEmpty());

    // Whatever text box the slider keeps has no area: every point of the fader is the fader's.
    for (auto* child : fader.getChildren())
        EXPECT_TRUE (child->getBounds().isEmpty());
    for (int y : { 1, 100, 369 })
        EXPECT_EQ (s.segment.getComponentAt (50, 24 + y), &fader);
}

TEST (GainFader, AClickAloneChangesNothing)
{
    for (double gain : { 0.0, 7.31, -19.99, 20.0 })
    {
        Segment s;
        auto& fader = s.segment.outputSlider;
        fader.setValue (gain, juce::dontSendNotification);
        SyntheticMouse mouse (fader);
        // Far from the thumb, so that a fader that jumped to the pointer would show it.
        mouse.press ({ 38.0f, 330.0f });
        mouse.release ({ 38.0f, 330.0f });
        // The framework takes the value through its proportion of the range and back,
        // which may move it in the last bits of a double, never by a step.
        EXPECT_NEAR (fader.getValue(), gain, 1e-12);
    }
}

TEST (GainFader, ThumbFollowsThePointerOneToOne)
{
    // Independently: 312 pixels span the 40 dB, so 156 pixels are 20 dB and 39 are 5 dB.
    struct Case { double from; float up; double to; };
    for (auto c : { Case { 0.0, 156.0f, 20.0 }, Case { 0.0, -156.0f, -20.0 }, Case { 0.0, 39.0f, 5.0 },
                    Case { -12.0, 31.2f, -8.0 }, Case { 15.0, 200.0f, 20.0 }, Case { -15.0, -100.0f, -20.0 } })
    {
        Segment s;
        auto& fader = s.segment.inputSlider;
        fader.setValue (c.from, juce::dontSendNotification);
        SyntheticMouse mouse (fader);
        const juce::Point<float> start (38.0f, 60.0f);
        mouse.press (start);
        mouse.dragTo (start.translated (0.0f, -c.up * 0.5f));
        mouse.dragTo (start.translated (0.0f, -c.up));
        mouse.release (start.translated (0.0f, -c.up));
        EXPECT_NEAR (fader.getValue(), c.to, 0.0051) << "from " << c.from << " dB, " << c.up << " pixels up";
    }
}

TEST (LinkToggle, ShowsItsStateOnlyNeverHoverOrPress)
{
    LinkToggleBtn toggle;
    toggle.setBounds (0, 0, 38, 49);
    const auto on = expectedToggle (BinaryData::temp_binary_data_44, BinaryData::temp_binary_data_44Size);
    const auto off = expectedToggle (BinaryData::temp_binary_data_43, BinaryData::temp_binary_data_43Size);
    ASSERT_GT (largestChannelDifference (on, off), 50);

    for (bool state : { true, false })
    {
        toggle.setToggleState (state, juce::dontSendNotification);
        for (auto look : { juce::Button::buttonNormal, juce::Button::buttonOver, juce::Button::buttonDown })
        {
            toggle.setState (look);
            EXPECT_EQ (largestChannelDifference (paintAlone (toggle), state ? on : off), 0)
                << "state " << state << ", look " << (int) look;
        }
    }
}

TEST (LinkToggle, AClickTogglesTheLink)
{
    LinkToggleBtn toggle;
    toggle.setBounds (0, 0, 38, 49);
    toggle.setVisible (true); // a hidden button takes no clicks
    SyntheticMouse mouse (toggle);
    const juce::Point<float> centre (19.0f, 24.0f);

    for (bool expected : { true, false })
    {
        mouse.press (centre);
        mouse.release (centre);
        EXPECT_EQ (toggle.getToggleState(), expected);
    }
}

TEST (GainFader, DragReachesTheGainParameterThroughItsAttachment)
{
    MorvelAudioProcessor processor;
    IOSegment segment (&processor);
    segment.setBounds (50, 100, 220, 410);
    juce::AudioProcessorValueTreeState::SliderAttachment attachment (processor.parameterState, "Input Gain",
                                                                     segment.inputSlider);
    auto& fader = segment.inputSlider;
    EXPECT_EQ (fader.getMinimum(), -20.0);
    EXPECT_EQ (fader.getMaximum(), 20.0);
    EXPECT_NEAR (fader.getInterval(), 0.01, 1e-6);
    ASSERT_EQ (fader.getValue(), 0.0);

    SyntheticMouse mouse (fader);
    mouse.press ({ 38.0f, 200.0f });
    mouse.dragTo ({ 38.0f, 44.0f });
    mouse.release ({ 38.0f, 44.0f });
    EXPECT_NEAR (processor.parameterState.getRawParameterValue ("Input Gain")->load(), 20.0f, 1e-4f);
}
