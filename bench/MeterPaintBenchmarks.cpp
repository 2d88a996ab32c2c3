#include "editor/VolumeMeter.h"

#include "tests/editor/LiteralPartialImage.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

// One paint of the level meter while every bar moves, as it does at 20 ticks a
// second with programme material: the meter's own paint, which keeps a cut copy per
// bar position, against the same bars cut the plain way (a fresh copy and a
// full-size mask per bar) at every paint. Argument: channels per side.

namespace
{
struct MeterUnderTest
{
    MeterUnderTest()
    {
        meter.setBounds (0, 0, 220, 410);
    }

    /** A new random level for every slot, then one tick, as the audio would leave them. */
    void nextTick (int channelsPerSide)
    {
        auto& store = processor.truePeakMeter.peakDb;
        store.assign (2 * channelsPerSide, -60.0f);
        for (int i = 0; i < 2 * channelsPerSide; ++i)
            store.set (i, level (random));
        meter.timerCallback();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    MorvelAudioProcessor processor;
    VolumeMeter meter { &processor };
    std::mt19937 random { 1 };
    std::uniform_real_distribution<float> level { -45.0f, 0.0f };
    juce::Image canvas { juce::Image::ARGB, 220, 410, true };
};

MeterUnderTest& meterUnderTest()
{
    static MeterUnderTest m;
    return m;
}

void meterPaint (benchmark::State& state)
{
    auto& m = meterUnderTest();
    const int channelsPerSide = (int) state.range (0);

    for (auto _ : state)
    {
        state.PauseTiming();
        m.nextTick (channelsPerSide);
        m.canvas.clear (m.canvas.getBounds(), juce::Colour (0xff202428));
        state.ResumeTiming();

        juce::Graphics g (m.canvas);
        m.meter.paint (g);
    }
}

/** The same bars, each cut from a fresh copy through a full-size mask at every paint. */
void meterPaintCuttingEveryBar (benchmark::State& state)
{
    auto& m = meterUnderTest();
    const int channelsPerSide = (int) state.range (0);
    const auto layout = m.meter.barLayout (channelsPerSide);
    const auto& image = *layout.image;
    const float halfPi = juce::MathConstants<float>::halfPi;

    auto drawBar = [&] (juce::Graphics& g, int x, float db)
    {
        const float offset = db * -355.0f / 60.0f;
        const float r = (float) (image.getWidth() / 2), y = 2.0f * (offset + 2.0f);
        juce::Path cut;
        cut.addCentredArc (r, 2.0f, r, r, 0.0f, -halfPi, halfPi, true);
        cut.lineTo ((float) image.getWidth(), y);
        cut.addCentredArc (r, y, r, r, 0.0f, halfPi, -halfPi, false);
        cut.closeSubPath();
        g.drawImageWithin (cutAwayLiterally (image, cut), x, 27, image.getWidth() / 2, image.getHeight() / 2,
                           juce::RectanglePlacement::fillDestination);
    };

    for (auto _ : state)
    {
        state.PauseTiming();
        m.nextTick (channelsPerSide);
        m.canvas.clear (m.canvas.getBounds(), juce::Colour (0xff202428));
        state.ResumeTiming();

        juce::Graphics g (m.canvas);
        for (int i = 0; i < channelsPerSide; ++i)
        {
            drawBar (g, layout.inputStart + i * layout.step, m.meter.displayLevel[i]);
            drawBar (g, layout.outputStart + i * layout.step, m.meter.displayLevel[channelsPerSide + i]);
        }
    }
}
} // namespace

BENCHMARK (meterPaint)->Arg (2)->Arg (12)->Unit (benchmark::kMicrosecond);
BENCHMARK (meterPaintCuttingEveryBar)->Arg (2)->Arg (12)->Unit (benchmark::kMicrosecond);
