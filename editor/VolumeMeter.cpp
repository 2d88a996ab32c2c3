#include "editor/VolumeMeter.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{
constexpr float halfPi = juce::MathConstants<float>::halfPi;

/** A level as a bar shows it: -60 to 0 dB; a value that is no number shows as empty. */
float clampLevel (float db) noexcept
{
    if (db > VolumeMeter::fullDb)
        return VolumeMeter::fullDb;

    return db > VolumeMeter::emptyDb ? db : VolumeMeter::emptyDb;
}

/**
    The region of a bar image (w pixels wide, in image pixels) that is erased for a cut
    of offset display pixels: from the top-edge dome down to a dome whose lowest edge
    lies 2 x (offset + 2) image pixels below the top.
*/
juce::Path domeCut (int w, float offset)
{
    const auto r = (float) (w / 2);
    const auto levelY = 2.0f * (offset + 2.0f);

    juce::Path cut;
    cut.addCentredArc (r, 2.0f, r, r, 0.0f, -halfPi, halfPi, true);
    cut.lineTo ((float) w, levelY);
    cut.addCentredArc (r, levelY, r, r, 0.0f, halfPi, -halfPi, false);
    cut.closeSubPath();
    return cut;
}

/**
    The mask rows that can hold the edge of the cut: from two rows above the lower
    dome's peak to two rows below its ends. Every row above this band lies wholly
    inside the cut (the top-edge dome grazes every pixel of the first two rows), and
    every row below it lies wholly outside.
*/
juce::Range<int> cutEdgeRows (int w, int h, float offset)
{
    const auto levelY = 2.0f * (offset + 2.0f);
    const int top = juce::jlimit (0, h, (int) std::floor (levelY - (float) (w / 2)) - 2);
    const int end = juce::jlimit (top, h, (int) std::ceil (levelY) + 2);
    return { top, end };
}

int cutEdgeBandHeight (int w) { return w / 2 + 6; }

/** The smallest range holding both; an empty range adds nothing. */
juce::Range<int> spanOf (juce::Range<int> a, juce::Range<int> b)
{
    if (a.isEmpty())
        return b;

    return b.isEmpty() ? a : a.getUnionWith (b);
}
} // namespace

VolumeMeter::VolumeMeter (MorvelAudioProcessor* processorToShow)
    : processor (processorToShow),
      wideBarImage (EditorImages::load (BinaryData::temp_binary_data_40, BinaryData::temp_binary_data_40Size)),
      thinBarImage (EditorImages::load (BinaryData::temp_binary_data_41, BinaryData::temp_binary_data_41Size))
{
    std::fill (std::begin (previousDisplay), std::end (previousDisplay), emptyDb);
    std::fill (std::begin (displayLevel), std::end (displayLevel), emptyDb);
    cutBars.reserve ((size_t) maxSlots);

    addAndMakeVisible (inputReset);
    addAndMakeVisible (outputReset);
    inputReset.setBounds (inputReadoutX, readoutY, readoutWidth, readoutHeight);
    outputReset.setBounds (outputReadoutX, readoutY, readoutWidth, readoutHeight);

    // The readout disappears at the next tick's repaint, not at the click.
    inputReset.onClick = [this] { peakHold[0] = emptyDb; };
    outputReset.onClick = [this] { peakHold[1] = emptyDb; };

    startTimer (slowPeriodMs);
}

VolumeMeter::~VolumeMeter() = default;

//==============================================================================
void VolumeMeter::timerCallback()
{
    if (processor != nullptr)
        copyValues();

    repaint();
    adaptPeriod (isQuiet());
}

void VolumeMeter::copyValues()
{
    // The store has a fixed capacity and atomic values: the copy never waits for the
    // audio thread and never reads memory that a preparation could free.
    float values[PeakValueStore::capacity];
    const int count = processor->truePeakMeter.copyPeakDb (values);
    updateLevels (values, std::min (count, maxSlots));
}

void VolumeMeter::updateLevels (const float* values, int count)
{
    channelsPerSide = count / 2;
    const int used = count & ~1;

    for (int i = 0; i < used; ++i)
    {
        previousDisplay[i] = displayLevel[i];
        displayLevel[i] = emptyDb;
        levelHistory[(size_t) i].previous = levelHistory[(size_t) i].current;
    }

    for (int i = 0; i < used; ++i)
    {
        // The hold keeps the unclamped value so that the readout can show overs.
        auto& hold = peakHold[i / channelsPerSide];
        if (values[i] > hold)
            hold = values[i];

        levelHistory[(size_t) i].current = clampLevel (values[i]);
    }

    // A bar shows the higher of the last two ticks, so a short peak stays one tick longer.
    for (int i = 0; i < used; ++i)
        displayLevel[i] = std::max ({ emptyDb, levelHistory[(size_t) i].previous, levelHistory[(size_t) i].current });
}

bool VolumeMeter::isQuiet() const noexcept
{
    for (int i = 0; i < 2 * channelsPerSide; ++i)
        if (levelHistory[(size_t) i].previous > quietThresholdDb)
            return false;

    return true;
}

void VolumeMeter::adaptPeriod (bool quiet)
{
    if (! quiet)
    {
        quietTicks = 0;
        if (fastMode == 0)
        {
            fastMode = 1;
            startTimer (fastPeriodMs);
        }
        return;
    }

    quietTicks = std::min (quietTicks + 1, quietTicksBeforeSlowing);
    const bool wantFast = quietTicks < quietTicksBeforeSlowing;
    if (wantFast != (fastMode == 1))
    {
        fastMode = wantFast ? 1 : 0;
        startTimer (wantFast ? fastPeriodMs : slowPeriodMs);
    }
}

//==============================================================================
void VolumeMeter::paint (juce::Graphics& g)
{
    ++paintCount;

    g.setFont (13.0f);
    g.setColour (juce::Colours::red);
    drawReadout (g, peakHold[0], inputReadoutX);
    drawReadout (g, peakHold[1], outputReadoutX);

    const auto layout = barLayout (channelsPerSide);
    if (layout.image == nullptr)
        return;

    const int c = channelsPerSide;
    for (int i = 0; i < c; ++i)
    {
        const float inputOffset = fallingLevel (i) * -barTravel / 60.0f;
        drawBar (g, *layout.image, (float) (layout.inputStart + i * layout.step), inputOffset);

        const float outputOffset = fallingLevel (c + i) * -barTravel / 60.0f;
        drawBar (g, *layout.image, (float) (layout.outputStart + i * layout.step), outputOffset);
    }
}

void VolumeMeter::drawReadout (juce::Graphics& g, float hold, int x)
{
    if (hold > 0.0f)
        g.drawText (juce::String (hold, 1) + " dB",
                    juce::Rectangle<float> ((float) x, (float) readoutY, (float) readoutWidth, (float) readoutHeight),
                    juce::Justification::centred, true);
}

float VolumeMeter::fallingLevel (int slot)
{
    // Stored back, so that the next tick falls from here and a second paint within
    // the same tick shows the same level.
    auto& level = displayLevel[slot];
    const float previous = previousDisplay[slot];
    if (level <= previous && previous - level >= fallPerTickDb)
        level = previous - fallPerTickDb;

    return level;
}

VolumeMeter::BarLayout VolumeMeter::barLayout (int c) const noexcept
{
    if (c < 2 || c > maxChannelsPerSide)
        return {};

    const int k = c - 2;

    if (c <= 5)
    {
        constexpr int width = 5;
        const int pad = (wellWidth - width * c) / (c + 1);
        return { &wideBarImage, inputBarX[k] + pad, outputBarX[k] + pad, pad + width };
    }

    constexpr int width = 2;
    const int gap = c > 9 ? 1 : 2;
    const int margin = (wellWidth - ((c - 1) * gap + width * c)) / 2;
    return { &thinBarImage, inputBarX[k] + margin, outputBarX[k] + margin, gap + width };
}

//==============================================================================
void VolumeMeter::drawBar (juce::Graphics& g, const juce::Image& barImage, float x, float offset)
{
    const juce::Rectangle<int> area ((int) x, barTop, barImage.getWidth() / 2, barImage.getHeight() / 2);

    if (barImage.getFormat() != juce::Image::ARGB)
    {
        EditorImages::drawFitted (g, barImage, area);
        return;
    }

    auto& bar = cutBarFor (barImage, area.getX());
    bar.staleRows = spanOf (bar.staleRows, cutTo (bar, barImage, offset));

    // Where device pixels are not display pixels (a high-density screen), the image's
    // own detail shows, so such a context gets the cut image itself.
    if (g.getInternalContext().getPhysicalPixelScaleFactor() != 1.0f)
    {
        EditorImages::drawFitted (g, bar.cut, area);
        return;
    }

    redrawShownRows (bar, bar.staleRows);
    bar.staleRows = {};

    // The finished bar is exactly what fitting the cut image into the area would blend
    // onto a transparent background, so placing it blends the same pixels. Display rows
    // filtered only from erased image rows are transparent and are left out.
    const int firstCutRow = *std::min_element (bar.cutRows.begin(), bar.cutRows.end());
    const int top = std::min (std::max (0, firstCutRow / 2 - 2), area.getHeight());
    const int height = area.getHeight() - top;
    g.drawImage (bar.shown, area.getX(), area.getY() + top, area.getWidth(), height,
                 0, top, area.getWidth(), height);
}

VolumeMeter::CutBar& VolumeMeter::cutBarFor (const juce::Image& source, int x)
{
    const auto* pixels = source.getPixelData();

    auto found = std::find_if (cutBars.begin(), cutBars.end(),
                               [&] (const CutBar& bar) { return bar.source == pixels && bar.x == x; });

    // A bar position that this paint has not drawn yet (the layout changed) is taken
    // over before the set grows; at most one entry per bar of a paint is ever kept.
    if (found == cutBars.end())
        found = std::find_if (cutBars.begin(), cutBars.end(),
                              [this] (const CutBar& bar) { return bar.lastPaint != paintCount; });

    if (found == cutBars.end())
    {
        // A paint draws at most maxSlots bars, so only a caller drawing more bars than
        // that at distinct places ever reaches the fallback.
        if (cutBars.size() < (size_t) maxSlots)
            found = cutBars.emplace (cutBars.end());
        else
            found = cutBars.begin();
    }

    if (found->source != pixels)
    {
        found->source = pixels;
        found->cut = source.createCopy();
        // One spare column and row: a fill whose edge meets the image's own right edge
        // is rasterised a shade lighter there than inside a larger canvas.
        found->shown = juce::Image (juce::Image::ARGB, source.getWidth() / 2 + 1, source.getHeight() / 2 + 1, true);
        found->cutRows.assign ((size_t) source.getWidth(), 0);
        found->offset = std::numeric_limits<float>::quiet_NaN();
        found->staleRows = { 0, source.getHeight() };
    }

    found->x = x;
    found->lastPaint = paintCount;
    return *found;
}

juce::Range<int> VolumeMeter::cutTo (CutBar& bar, const juce::Image& source, float offset)
{
    if (offset == bar.offset)
        return {};

    const int w = source.getWidth();
    newCutRows.resize ((size_t) w);
    findCutRows (w, source.getHeight(), offset, newCutRows.data());

    juce::Image::BitmapData from (source, juce::Image::BitmapData::readOnly);
    juce::Image::BitmapData to (bar.cut, juce::Image::BitmapData::readWrite);
    juce::Range<int> changed;

    for (int x = 0; x < w; ++x)
    {
        const int before = bar.cutRows[(size_t) x];
        const int after = newCutRows[(size_t) x];

        for (int y = after; y < before; ++y)
            std::memcpy (to.getPixelPointer (x, y), from.getPixelPointer (x, y), (size_t) to.pixelStride);

        for (int y = before; y < after; ++y)
            std::memset (to.getPixelPointer (x, y), 0, (size_t) to.pixelStride);

        changed = spanOf (changed, { std::min (before, after), std::max (before, after) });

        bar.cutRows[(size_t) x] = after;
    }

    bar.offset = offset;
    return changed;
}

void VolumeMeter::redrawShownRows (CutBar& bar, juce::Range<int> sourceRows)
{
    if (sourceRows.isEmpty())
        return;

    // A display row is filtered from the few image rows around twice its index; two
    // rows of margin on each side cover every row that a changed image row reaches.
    const int w = bar.shown.getWidth();
    const int top = std::max (0, sourceRows.getStart() / 2 - 2);
    const int bottom = std::min (bar.shown.getHeight(), sourceRows.getEnd() / 2 + 3);
    if (top >= bottom)
        return;

    {
        juce::Image::BitmapData rows (bar.shown, 0, top, w, bottom - top, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < rows.height; ++y)
            std::memset (rows.getLinePointer (y), 0, (size_t) (w * rows.pixelStride));
    }

    juce::Graphics g (bar.shown);
    g.reduceClipRegion (0, top, w, bottom - top);
    EditorImages::drawFitted (g, bar.cut, { 0, 0, bar.cut.getWidth() / 2, bar.cut.getHeight() / 2 });
}

void VolumeMeter::findCutRows (int w, int h, float offset, int* rows)
{
    const auto band = cutEdgeRows (w, h, offset);
    std::fill (rows, rows + w, band.getStart());

    if (band.isEmpty())
        return;

    // The cut is filled by the framework's own rasteriser, like a mask of the whole
    // image, but only over the rows that can hold its edge: the band is a whole-pixel
    // shift of those mask rows, which leaves every coverage value as it is.
    if (bandMask.getWidth() != w || bandMask.getHeight() != cutEdgeBandHeight (w))
        bandMask = juce::Image (juce::Image::ARGB, w, cutEdgeBandHeight (w), true);
    else
        bandMask.clear (bandMask.getBounds());

    {
        juce::Graphics g (bandMask);
        g.setOrigin (0, -band.getStart());
        g.setColour (juce::Colours::white);
        g.fillPath (domeCut (w, offset));
    }

    const juce::Image::BitmapData mask (bandMask, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < band.getLength(); ++y)
        for (int x = 0; x < w; ++x)
            if (mask.getPixelColour (x, y).getAlpha() != 0)
                rows[x] = band.getStart() + y + 1;
}
