#include "editor/VolumeMeter.h"

#include "tests/editor/ImageComparison.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

// The meter's behaviour tick by tick: values are put into the processor's store as
// the audio thread would leave them, and the timer callback is called by hand.

namespace
{
class VolumeMeterTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { processor = std::make_unique<MorvelAudioProcessor>(); }
    static void TearDownTestSuite() { processor.reset(); }

    void SetUp() override
    {
        processor->truePeakMeter.peakDb.assign (4, -60.0f);
        meter = std::make_unique<VolumeMeter> (processor.get());
        meter->setBounds (0, 0, 220, 410);
        meter->setVisible (true);
    }

    /** Input values then output values, as the true-peak meter stores them. */
    static void setValues (const std::vector<float>& values)
    {
        auto& store = processor->truePeakMeter.peakDb;
        store.assign ((int) values.size(), -60.0f);
        for (size_t i = 0; i < values.size(); ++i)
            store.set ((int) i, values[i]);
    }

    void tick (int times = 1)
    {
        for (int i = 0; i < times; ++i)
            meter->timerCallback();
    }

    void tickAndPaint (int times = 1)
    {
        for (int i = 0; i < times; ++i)
        {
            meter->timerCallback();
            paint();
        }
    }

    juce::Image paint()
    {
        juce::Image image (juce::Image::ARGB, 220, 410, true);
        juce::Graphics g (image);
        meter->paint (g);
        return image;
    }

    static inline std::unique_ptr<MorvelAudioProcessor> processor;
    std::unique_ptr<VolumeMeter> meter;
};

int redPixelsIn (const juce::Image& image, juce::Rectangle<int> area)
{
    int count = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto c = image.getPixelAt (x, y);
            if (c.getAlpha() > 128 && c.getRed() > 200 && c.getGreen() < 60 && c.getBlue() < 60)
                ++count;
        }
    return count;
}

const juce::Rectangle<int> inputReadout { 13, 0, 69, 18 };
const juce::Rectangle<int> outputReadout { 87, 0, 69, 18 };
} // namespace

TEST_F (VolumeMeterTest, StartsSlowWithTheClickAreasOverTheReadouts)
{
    EXPECT_EQ (meter->getTimerInterval(), 333);
    EXPECT_EQ (meter->fastMode, 0);
    EXPECT_EQ (meter->channelsPerSide, 2);
    EXPECT_EQ (meter->inputReset.getBounds(), juce::Rectangle<int> (13, -5, 69, 23));
    EXPECT_EQ (meter->outputReset.getBounds(), juce::Rectangle<int> (87, -5, 69, 23));
    EXPECT_TRUE (meter->inputReset.isVisible());
    EXPECT_EQ (meter->peakHold[0], -60.0f);
    EXPECT_EQ (meter->displayLevel[23], -60.0f);

    // The part of a click area above the meter's top edge takes no clicks.
    EXPECT_EQ (meter->getComponentAt (20, 2), &meter->inputReset);
    EXPECT_EQ (meter->getComponentAt (150, 17), &meter->outputReset);
    EXPECT_EQ (meter->getComponentAt (20, -2), nullptr);
    EXPECT_EQ (meter->getComponentAt (20, 18), meter.get());
}

TEST_F (VolumeMeterTest, QuietTicksSlowTheTimerAndALoudTickSpeedsItUp)
{
    // The first tick always switches to 50 ms: it counts as quiet, but fewer than 45 times.
    tick();
    EXPECT_EQ (meter->getTimerInterval(), 50);
    EXPECT_EQ (meter->quietTicks, 1);

    tick (43);
    EXPECT_EQ (meter->quietTicks, 44);
    EXPECT_EQ (meter->getTimerInterval(), 50);

    tick();
    EXPECT_EQ (meter->quietTicks, 45);
    EXPECT_EQ (meter->fastMode, 0);
    EXPECT_EQ (meter->getTimerInterval(), 333);

    tick (3);
    EXPECT_EQ (meter->quietTicks, 45);
    EXPECT_EQ (meter->getTimerInterval(), 333);

    // A level is judged one tick late: the tick that first sees it is still quiet.
    setValues ({ -60.0f, -60.0f, -60.0f, -49.0f });
    tick();
    EXPECT_EQ (meter->getTimerInterval(), 333);
    tick();
    EXPECT_EQ (meter->getTimerInterval(), 50);
    EXPECT_EQ (meter->quietTicks, 0);
    EXPECT_EQ (meter->fastMode, 1);

    // Exactly -50 dB is quiet.
    setValues ({ -50.0f, -50.0f, -50.0f, -50.0f });
    tick (2);
    EXPECT_EQ (meter->quietTicks, 1);
}

TEST_F (VolumeMeterTest, APeakIsHeldOneTickThenFallsOneAndAHalfDecibelsPerPaintedTick)
{
    setValues ({ 0.0f, -60.0f, -20.0f, -60.0f });
    tickAndPaint();
    EXPECT_EQ (meter->displayLevel[0], 0.0f);
    EXPECT_EQ (meter->displayLevel[2], -20.0f);

    setValues ({ -60.0f, -60.0f, -60.0f, -60.0f });
    tickAndPaint();
    EXPECT_EQ (meter->displayLevel[0], 0.0f);   // the extra tick
    EXPECT_EQ (meter->displayLevel[2], -20.0f);

    for (int k = 1; k <= 40; ++k)
    {
        tickAndPaint();
        ASSERT_FLOAT_EQ (meter->displayLevel[0], -1.5f * (float) k) << k;
        ASSERT_FLOAT_EQ (meter->displayLevel[2], std::max (-60.0f, -20.0f - 1.5f * (float) k)) << k;
    }

    tickAndPaint();
    EXPECT_EQ (meter->displayLevel[0], -60.0f);

    // A second paint within the tick shows the same level; a rise shows at once.
    setValues ({ -10.0f, -60.0f, -60.0f, -60.0f });
    tickAndPaint();
    EXPECT_EQ (meter->displayLevel[0], -10.0f);
    setValues ({ -60.0f, -60.0f, -60.0f, -60.0f });
    tickAndPaint (2);
    EXPECT_EQ (meter->displayLevel[0], -11.5f);
    paint();
    EXPECT_EQ (meter->displayLevel[0], -11.5f);
}

TEST_F (VolumeMeterTest, ABarThatIsNotPaintedDoesNotFall)
{
    setValues ({ 0.0f, -60.0f, -60.0f, -60.0f });
    tick();
    setValues ({ -60.0f, -60.0f, -60.0f, -60.0f });
    tick (2);
    EXPECT_EQ (meter->displayLevel[0], -60.0f);
    tick();
    paint();
    EXPECT_EQ (meter->displayLevel[0], -60.0f);
}

TEST_F (VolumeMeterTest, HoldsRiseUnclampedAndEachResetClearsOnlyItsSide)
{
    setValues ({ 1.2f, -3.0f, 0.5f, 4.25f });
    tick();
    EXPECT_FLOAT_EQ (meter->peakHold[0], 1.2f);
    EXPECT_FLOAT_EQ (meter->peakHold[1], 4.25f);
    EXPECT_EQ (meter->displayLevel[0], 0.0f);

    // Lower values, the empty-block value and a preparation never lower a hold.
    setValues ({ -200.0f, -200.0f, -200.0f, -200.0f });
    tick();
    processor->truePeakMeter.prepare (2, 64);
    tick();
    EXPECT_FLOAT_EQ (meter->peakHold[0], 1.2f);
    EXPECT_FLOAT_EQ (meter->peakHold[1], 4.25f);

    auto image = paint();
    EXPECT_GT (redPixelsIn (image, inputReadout), 20);
    EXPECT_GT (redPixelsIn (image, outputReadout), 20);

    meter->inputReset.onClick();
    EXPECT_EQ (meter->peakHold[0], -60.0f);
    EXPECT_FLOAT_EQ (meter->peakHold[1], 4.25f);

    image = paint();
    EXPECT_EQ (redPixelsIn (image, inputReadout), 0);
    EXPECT_GT (redPixelsIn (image, outputReadout), 20);

    meter->outputReset.onClick();
    EXPECT_EQ (meter->peakHold[1], -60.0f);
}

TEST_F (VolumeMeterTest, AClickOnTheReadoutClearsTheHold)
{
    setValues ({ 2.0f, 2.0f });
    tick();
    ASSERT_EQ (meter->peakHold[0], 2.0f);

    // Pressed and released over the button, as the mouse would.
    juce::Component& button = meter->inputReset;
    const juce::Point<float> centre (34.0f, 11.0f);
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const auto now = juce::Time::getCurrentTime();
    const juce::MouseEvent down (source, centre, juce::ModifierKeys::leftButtonModifier, 1.0f,
                                 0.0f, 0.0f, 0.0f, 0.0f, &button, &button, now, centre, now, 1, false);
    const juce::MouseEvent up (source, centre, {}, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &button, &button,
                               now, centre, now, 1, false);
    button.mouseDown (down);
    button.mouseUp (up);

    EXPECT_EQ (meter->peakHold[0], -60.0f);
    EXPECT_EQ (meter->peakHold[1], 2.0f);
}

TEST_F (VolumeMeterTest, AClickInTheMetersWindowClearsTheHoldUnderIt)
{
    if (juce::Desktop::getInstance().getDisplays().displays.isEmpty())
        GTEST_SKIP() << "needs a display";

    setValues ({ 2.0f, 2.0f });
    tick();

    // A window of its own, and a press and release delivered as the window system
    // would deliver them: the meter finds the button under the pointer itself.
    meter->addToDesktop (0);
    auto* peer = meter->getPeer();
    ASSERT_NE (peer, nullptr);

    auto click = [&] (juce::Point<float> at)
    {
        const auto now = juce::Time::currentTimeMillis();
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at, juce::ModifierKeys::leftButtonModifier,
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, now);
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at, juce::ModifierKeys(),
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, now + 40);
    };

    click ({ 100.0f, 200.0f }); // the bars' area: nothing happens
    EXPECT_EQ (meter->peakHold[0], 2.0f);
    EXPECT_EQ (meter->peakHold[1], 2.0f);

    click ({ 150.0f, 10.0f });  // the output readout
    EXPECT_EQ (meter->peakHold[0], 2.0f);
    EXPECT_EQ (meter->peakHold[1], -60.0f);

    click ({ 15.0f, 1.0f });    // the input readout
    EXPECT_EQ (meter->peakHold[0], -60.0f);

    meter->removeFromDesktop();
}

TEST_F (VolumeMeterTest, ZeroDecibelsExactlyShowsNoReadout)
{
    setValues ({ 0.0f, 0.0f, 0.0f, 0.0f });
    tick();
    EXPECT_EQ (meter->peakHold[0], 0.0f);

    const auto image = paint();
    EXPECT_EQ (redPixelsIn (image, inputReadout), 0);
    EXPECT_EQ (redPixelsIn (image, outputReadout), 0);
}

TEST_F (VolumeMeterTest, BeforePreparationOneChannelPerSideAtZeroDecibels)
{
    // A new true-peak meter holds two values of 0 dB until the first preparation.
    TruePeakMeter fresh;
    float values[PeakValueStore::capacity];
    ASSERT_EQ (fresh.copyPeakDb (values), 2);
    setValues ({ values[0], values[1] });

    tick();
    EXPECT_EQ (meter->channelsPerSide, 1);
    EXPECT_EQ (meter->peakHold[0], 0.0f);
    EXPECT_EQ (meter->peakHold[1], 0.0f);
    tick();
    EXPECT_EQ (meter->getTimerInterval(), 50);
    EXPECT_EQ (meter->quietTicks, 0);

    const auto image = paint();
    for (int y = 0; y < 410; ++y)
        for (int x = 0; x < 220; ++x)
            ASSERT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;
}

TEST_F (VolumeMeterTest, MonoDrawsNoBarsButItsReadoutWorks)
{
    setValues ({ 3.0f, -1.0f });
    tick();
    EXPECT_EQ (meter->channelsPerSide, 1);
    EXPECT_EQ (meter->peakHold[0], 3.0f);
    EXPECT_EQ (meter->peakHold[1], -1.0f);

    auto image = paint();
    EXPECT_GT (redPixelsIn (image, inputReadout), 20);
    EXPECT_EQ (redPixelsIn (image, outputReadout), 0);
    for (int y = 20; y < 410; ++y)
        for (int x = 0; x < 220; ++x)
            ASSERT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;

    meter->inputReset.onClick();
    image = paint();
    EXPECT_EQ (redPixelsIn (image, inputReadout), 0);
}

TEST_F (VolumeMeterTest, OddAndEmptyCountsUseWholeChannelPairsOnly)
{
    setValues ({ -10.0f, -20.0f, 5.0f });
    tick (2);
    EXPECT_EQ (meter->channelsPerSide, 1);
    EXPECT_EQ (meter->displayLevel[0], -10.0f);
    EXPECT_EQ (meter->displayLevel[1], -20.0f);
    EXPECT_EQ (meter->displayLevel[2], -60.0f);
    EXPECT_EQ (meter->peakHold[1], -20.0f);

    // No values at all: every tick is quiet and nothing changes.
    setValues ({});
    tick();
    EXPECT_EQ (meter->channelsPerSide, 0);
    EXPECT_EQ (meter->displayLevel[0], -10.0f);
    EXPECT_EQ (meter->quietTicks, 1);
    paint();
}

TEST_F (VolumeMeterTest, WithoutAProcessorTheMeterKeepsItsValuesAndCountsQuietTicks)
{
    setValues ({ -5.0f, -5.0f, -5.0f, -5.0f });
    tick (2);
    ASSERT_EQ (meter->fastMode, 1);

    meter->processor = nullptr;
    setValues ({ -60.0f, -60.0f, -60.0f, -60.0f });
    tick (50);
    EXPECT_EQ (meter->displayLevel[0], -5.0f);
    EXPECT_EQ (meter->channelsPerSide, 2);
    // The stored previous levels stay loud, so these ticks are never quiet.
    EXPECT_EQ (meter->quietTicks, 0);

    VolumeMeter detached (nullptr);
    detached.timerCallback();
    EXPECT_EQ (detached.quietTicks, 1);
    EXPECT_EQ (detached.getTimerInterval(), 50);
}

TEST_F (VolumeMeterTest, UnclampedValuesAreClampedForTheBars)
{
    setValues ({ 6.0f, -200.0f, std::numeric_limits<float>::quiet_NaN(), -75.0f });
    tick();
    EXPECT_EQ (meter->levelHistory[0].current, 0.0f);
    EXPECT_EQ (meter->levelHistory[1].current, -60.0f);
    EXPECT_EQ (meter->levelHistory[2].current, -60.0f);
    EXPECT_EQ (meter->levelHistory[3].current, -60.0f);
    EXPECT_EQ (meter->peakHold[0], 6.0f);
    EXPECT_EQ (meter->peakHold[1], -60.0f);
}

//==============================================================================
namespace
{
int litPixelsIn (const juce::Image& image, juce::Rectangle<int> area)
{
    int count = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            count += image.getPixelAt (x, y).getAlpha() > 128 ? 1 : 0;
    return count;
}
} // namespace

TEST (VolumeMeterWithAudio, BarsRiseInTheNextPaintsOfTheWindowWhenAudioPlays)
{
    // The window's renderer paints only what was marked dirty since its last paint. A
    // meter buffered to an image is painted the same way, so its bars move on the
    // picture only if the ticks mark them.
    MorvelAudioProcessor processor;
    processor.parameterState.getParameter ("Mix")->setValueNotifyingHost (0.0f); // dry: the output is the input, delayed
    processor.prepareToPlay (48000.0, 512);

    juce::Component window;
    window.setSize (220, 410);
    VolumeMeter meter (&processor);
    meter.setBounds (window.getLocalBounds());
    meter.setBufferedToImage (true);
    window.addAndMakeVisible (meter);

    // Three ticks, each after 8 blocks (85 ms) of a 1 kHz sine: a true peak of about -6 dB.
    juce::AudioBuffer<float> block (processor.getTotalNumInputChannels(), 512);
    juce::MidiBuffer midi;
    double phase = 0.0;
    const auto playAndTick = [&] (float amplitude)
    {
        for (int tick = 0; tick < 3; ++tick)
        {
            for (int b = 0; b < 8; ++b)
            {
                for (int i = 0; i < block.getNumSamples(); ++i, phase += juce::MathConstants<double>::twoPi / 48.0)
                    for (int ch = 0; ch < block.getNumChannels(); ++ch)
                        block.setSample (ch, i, amplitude * (float) std::sin (phase));
                processor.processBlock (block, midi);
            }
            meter.timerCallback();
        }
        return ImageComparison::render (window);
    };

    const auto silent = playAndTick (0.0f);
    const auto loud = playAndTick (0.5f);

    // Each group's bars stand from -60 dB (the bottom) to their level: 54 of the 60 dB,
    // so 90 % of the full bars' area lights up, less the few pixels of their domed tops.
    const int channels = processor.getTotalNumInputChannels();
    ASSERT_EQ (meter.channelsPerSide, channels);
    const auto* barImage = meter.barLayout (channels).image;
    ASSERT_NE (barImage, nullptr);
    const int fullBarsArea = channels * (barImage->getWidth() / 2) * (int) VolumeMeter::barTravel;
    for (const int wellX : { meter.inputBarX[channels - 2], meter.outputBarX[channels - 2] })
    {
        const juce::Rectangle<int> well (wellX, VolumeMeter::barTop, VolumeMeter::wellWidth, (int) VolumeMeter::barTravel);
        EXPECT_LT (litPixelsIn (silent, well), fullBarsArea / 20) << wellX;
        EXPECT_NEAR (litPixelsIn (loud, well), 0.9 * fullBarsArea, 0.03 * fullBarsArea) << wellX;
    }
}
