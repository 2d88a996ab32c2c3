#pragma once

#include "processor/PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <vector>

/**
    The window's level meter: the processor's true-peak values as vertical bars, the
    input group at the left, the output group at the right, with a red clip readout
    above each group while that side's peak hold is above 0 dB. A click on a readout
    clears its hold.

    The meter polls the processor on its own timer: 50 ms while any level is above
    -50 dB, 333 ms after 45 quiet ticks. Each bar holds a peak for one extra tick and
    then falls by at most 1.5 dB per painted tick.

    [message thread] Construction, ticks and clicks. Paints run on the window's
    rendering thread while it holds the message thread's lock, so they never overlap
    a tick. The values are copied from the processor's fixed store of atomic values,
    which the audio thread writes and re-sizes without ever freeing it, so a tick
    never waits and never reads freed memory.

    Data members are public so that the segment that owns the meter and the tests can
    see its state; only the meter itself changes it.
*/
class VolumeMeter : public juce::Component,
                    public juce::Timer
{
public:
    /** Value slots: 12 channels per side, the processor's limit. */
    static constexpr int maxSlots = PeakValueStore::capacity;
    static constexpr int maxChannelsPerSide = maxSlots / 2;

    /** A bar's range: empty at -60 dB, full at 0 dB. */
    static constexpr float emptyDb = -60.0f;
    static constexpr float fullDb = 0.0f;

    /** A tick is quiet when no level of the tick before it exceeded this. */
    static constexpr float quietThresholdDb = -50.0f;
    static constexpr int quietTicksBeforeSlowing = 45;
    static constexpr int slowPeriodMs = 333;
    static constexpr int fastPeriodMs = 50;

    /** The most a painted bar falls from one tick to the next. */
    static constexpr float fallPerTickDb = 1.5f;

    /** Every bar stands from y 27 to y 382; 355 display pixels span the 60 dB. */
    static constexpr int barTop = 27;
    static constexpr float barTravel = 355.0f;

    /** The clip readouts' areas, which are also the reset buttons' bounds. */
    static constexpr int readoutY = -5, readoutWidth = 69, readoutHeight = 23;
    static constexpr int inputReadoutX = 13, outputReadoutX = 87;

    /** Each group of bars stands in a well this wide. */
    static constexpr int wellWidth = 41;

    /** Starts polling the processor (which may be null: the meter then shows what it had). */
    explicit VolumeMeter (MorvelAudioProcessor* processor);
    ~VolumeMeter() override;

    /** Draws the two clip readouts and the bars, letting each falling bar drop at most 1.5 dB. */
    void paint (juce::Graphics& g) override;

    /** Copies the processor's values, updates every level, repaints, adapts the period. */
    void timerCallback() override;

    /**
        Draws one bar from barImage with its left edge at x, its top cut down by offset
        display pixels into a dome: everything of the image above a half-circle whose
        lowest edge lies offset + 2 display pixels below the bar's top is erased.
        An image without an alpha channel is drawn uncut.

        Each bar position keeps its own cut copy of the image, and that copy as drawn at
        display size; both are rewritten only in the rows where the cut moved since the
        position was last drawn, so a paint mostly places finished bars.
    */
    void drawBar (juce::Graphics& g, const juce::Image& barImage, float x, float offset);

    /** Where the bars of both groups stand: the first left edges and the step between bars. */
    struct BarLayout
    {
        const juce::Image* image = nullptr; // null: no bars
        int inputStart = 0;
        int outputStart = 0;
        int step = 0;
    };

    /** The bar image and positions for c channels per side (no bars below 2). */
    BarLayout barLayout (int c) const noexcept;

    /** One value slot's clamped levels of the last two ticks. */
    struct LevelPair
    {
        float previous = emptyDb;
        float current = emptyDb;
    };

    juce::ImageButton inputReset;
    juce::ImageButton outputReset;
    std::array<LevelPair, maxSlots> levelHistory {};
    float previousDisplay[maxSlots];
    float peakHold[2] { emptyDb, emptyDb };
    int quietTicks = 0;
    float displayLevel[maxSlots];
    int fastMode = 0;
    int channelsPerSide = 2;
    MorvelAudioProcessor* processor = nullptr;
    int inputBarX[11] { 31, 31, 31, 32, 31, 31, 31, 31, 31, 31, 31 };
    int outputBarX[11] { 105, 105, 105, 106, 105, 105, 105, 105, 105, 105, 105 };
    juce::Image wideBarImage;
    juce::Image thinBarImage;

private:
    /**
        One bar position's bar: the bar image with its top erased column by column (rows
        [0, cutRows[x]) of column x), and that cut image as drawn fitted into a bar's
        display rectangle, which a paint only has to place. staleRows: the image rows
        whose cut changed since `shown` was last brought up to date.
    */
    struct CutBar
    {
        const juce::ImagePixelData* source = nullptr;
        int x = 0;
        float offset = 0.0f;
        juce::Image cut;
        juce::Image shown;
        std::vector<int> cutRows;
        juce::Range<int> staleRows;
        juce::uint32 lastPaint = 0;
    };

    void copyValues();
    void updateLevels (const float* values, int count);
    bool isQuiet() const noexcept;
    void adaptPeriod (bool quiet);
    void drawReadout (juce::Graphics& g, float hold, int x);
    float fallingLevel (int slot);

    CutBar& cutBarFor (const juce::Image& source, int x);
    juce::Range<int> cutTo (CutBar& bar, const juce::Image& source, float offset);
    void redrawShownRows (CutBar& bar, juce::Range<int> sourceRows);
    void findCutRows (int width, int height, float offset, int* rows);

    std::vector<CutBar> cutBars;
    juce::Image bandMask;
    std::vector<int> newCutRows;
    juce::uint32 paintCount = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VolumeMeter)
};
