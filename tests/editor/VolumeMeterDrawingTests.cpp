#include "editor/VolumeMeter.h"

#include "LiteralPartialImage.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

// What the meter draws, pixel by pixel: its cached, incrementally cut bars against
// a bar cut the plain way at every paint, the bar positions for every channel count
// against positions worked out by hand, and levels against the uncut bar image.

namespace
{
constexpr float halfPi = juce::MathConstants<float>::halfPi;

/** The dome cut as plainly written down: top-edge dome, right edge, dome at the level, close. */
juce::Path plainDomeCut (int w, float offset)
{
    const float r = (float) (w / 2);
    const float y = 2.0f * (offset + 2.0f);
    juce::Path p;
    p.addCentredArc (r, 2.0f, r, r, 0.0f, -halfPi, halfPi, true);
    p.lineTo ((float) w, y);
    p.addCentredArc (r, y, r, r, 0.0f, halfPi, -halfPi, false);
    p.closeSubPath();
    return p;
}

/** One bar drawn the plain way: a fresh copy, a full-size mask, every masked pixel erased. */
void drawPlainBar (juce::Graphics& g, const juce::Image& image, int x, float offset)
{
    const auto cut = cutAwayLiterally (image, plainDomeCut (image.getWidth(), offset));
    g.drawImageWithin (cut, x, 27, image.getWidth() / 2, image.getHeight() / 2,
                       juce::RectanglePlacement::fillDestination);
}

juce::Image blankCanvas (int w, int h, bool opaqueBackground)
{
    juce::Image image (juce::Image::ARGB, w, h, true);
    if (opaqueBackground)
        image.clear (image.getBounds(), juce::Colour (0xff202428));
    return image;
}

/** The largest difference of any channel of any pixel (0 to 255). */
int largestDifference (const juce::Image& a, const juce::Image& b, juce::Point<int>* where = nullptr)
{
    int largest = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            const auto p = a.getPixelAt (x, y);
            const auto q = b.getPixelAt (x, y);
            const int d = std::max ({ std::abs (p.getAlpha() - q.getAlpha()), std::abs (p.getRed() - q.getRed()),
                                      std::abs (p.getGreen() - q.getGreen()), std::abs (p.getBlue() - q.getBlue()) });
            if (d > largest)
            {
                largest = d;
                if (where != nullptr)
                    *where = { x, y };
            }
        }
    return largest;
}

float offsetFor (float db) { return db * -355.0f / 60.0f; }

/** Left edges of the bars of both groups, worked out by hand: first input, first output, step. */
std::vector<int> handWorkedPositions (int c)
{
    struct Row { int inputFirst, outputFirst, step; };
    static const std::map<int, Row> rows {
        { 2, { 41, 115, 15 } }, { 3, { 37, 111, 11 } }, { 4, { 35, 109, 9 } }, { 5, { 34, 108, 7 } },
        { 6, { 40, 114, 4 } },  { 7, { 38, 112, 4 } },  { 8, { 36, 110, 4 } }, { 9, { 34, 108, 4 } },
        { 10, { 37, 111, 3 } }, { 11, { 35, 109, 3 } }, { 12, { 34, 108, 3 } },
    };
    std::vector<int> xs;
    if (c < 2)
        return xs;
    const auto row = rows.at (c);
    for (int i = 0; i < c; ++i)
        xs.push_back (row.inputFirst + i * row.step);
    for (int i = 0; i < c; ++i)
        xs.push_back (row.outputFirst + i * row.step);
    return xs;
}

class VolumeMeterDrawing : public testing::Test
{
protected:
    static void SetUpTestSuite() { processor = std::make_unique<MorvelAudioProcessor>(); }
    static void TearDownTestSuite() { processor.reset(); }

    void SetUp() override
    {
        meter = std::make_unique<VolumeMeter> (processor.get());
        meter->setBounds (0, 0, 220, 410);
    }

    /** Every channel of both sides at db, shown after one tick. */
    void showLevel (int channelsPerSide, float db)
    {
        processor->truePeakMeter.peakDb.assign (2 * channelsPerSide, db);
        meter->timerCallback();
    }

    juce::Image paintMeter (bool opaqueBackground = false)
    {
        auto image = blankCanvas (220, 410, opaqueBackground);
        juce::Graphics g (image);
        meter->paint (g);
        return image;
    }

    static inline std::unique_ptr<MorvelAudioProcessor> processor;
    std::unique_ptr<VolumeMeter> meter;
};
} // namespace

TEST_F (VolumeMeterDrawing, CachedBarsMatchBarsCutAtEveryPaint)
{
    // Down the whole range, back up, then jumps in both directions, with offsets that
    // put the level's edge at many different fractions of an image pixel. One cached
    // bar is cut again and again, so every incremental change is checked.
    std::vector<float> levels;
    for (int i = 0; i <= 1200; ++i)
        levels.push_back (-0.05f * (float) i);
    for (int i = 1200; i >= 0; i -= 7)
        levels.push_back (-0.05f * (float) i);
    for (int i = 0; i < 200; ++i)
        levels.push_back (-0.001f * (float) i);
    std::mt19937 random (7);
    std::uniform_real_distribution<float> anyLevel (-61.0f, 0.0f);
    for (int i = 0; i < 300; ++i)
        levels.push_back (anyLevel (random));

    for (const auto* image : { &meter->wideBarImage, &meter->thinBarImage })
    {
        ASSERT_EQ (image->getFormat(), juce::Image::ARGB);
        for (const bool opaque : { false, true })
            for (const float db : levels)
            {
                auto fast = blankCanvas (16, 400, opaque);
                auto plain = blankCanvas (16, 400, opaque);
                {
                    juce::Graphics g (fast);
                    meter->drawBar (g, *image, 5.7f, offsetFor (db));
                }
                {
                    juce::Graphics g (plain);
                    drawPlainBar (g, *image, 5, offsetFor (db));
                }
                juce::Point<int> where;
                ASSERT_LE (largestDifference (fast, plain, &where), 1)
                    << "width " << image->getWidth() << " level " << db << " dB at " << where.toString()
                    << (opaque ? " on opaque" : " on transparent") << ": " << fast.getPixelAt (where.x, where.y).toDisplayString (true)
                    << " instead of " << plain.getPixelAt (where.x, where.y).toDisplayString (true);
            }
    }
}

TEST_F (VolumeMeterDrawing, AHighDensityContextGetsTheImagesFullDetail)
{
    // Levels change while the bar is drawn at twice the density, then at the normal
    // density again: both must match the plain drawing at their own density.
    const auto& image = meter->thinBarImage;
    for (const float scale : { 2.0f, 1.0f, 2.0f, 2.0f, 1.0f, 1.5f, 1.0f })
        for (const float db : { 0.0f, -0.7f, -13.3f, -30.0f, -59.0f, -4.2f })
        {
            const int w = (int) (16 * scale), h = (int) (400 * scale);
            auto fast = blankCanvas (w, h, true);
            auto plain = blankCanvas (w, h, true);
            {
                juce::Graphics g (fast);
                g.addTransform (juce::AffineTransform::scale (scale));
                meter->drawBar (g, image, 5.0f, offsetFor (db));
            }
            {
                juce::Graphics g (plain);
                g.addTransform (juce::AffineTransform::scale (scale));
                drawPlainBar (g, image, 5, offsetFor (db));
            }
            juce::Point<int> where;
            ASSERT_LE (largestDifference (fast, plain, &where), 1) << "scale " << scale << ", " << db << " dB at " << where.toString();
        }
}

TEST_F (VolumeMeterDrawing, FullBarsStandAtTheirPositionsForEveryChannelCount)
{
    for (int c = 1; c <= 12; ++c)
    {
        showLevel (c, 0.0f);
        const auto painted = paintMeter (true);

        auto expected = blankCanvas (220, 410, true);
        {
            juce::Graphics g (expected);
            const auto& image = c <= 5 ? meter->wideBarImage : meter->thinBarImage;
            for (const int x : handWorkedPositions (c))
                drawPlainBar (g, image, x, 0.0f);
        }
        juce::Point<int> where;
        EXPECT_LE (largestDifference (painted, expected, &where), 1) << c << " channels per side, at " << where.toString();
    }
}

TEST_F (VolumeMeterDrawing, WholePaintsMatchWhileLevelsAndLayoutsChange)
{
    // Random levels at every tick, falling bars, and layouts that move the bars to
    // new places and switch between the two bar images.
    std::mt19937 random (11);
    std::uniform_real_distribution<float> anyLevel (-70.0f, 1.0f);

    for (const int c : { 12, 3, 12, 7, 2 })
    {
        const auto xs = handWorkedPositions (c);
        const auto& image = c <= 5 ? meter->wideBarImage : meter->thinBarImage;

        for (int t = 0; t < 12; ++t)
        {
            auto& store = processor->truePeakMeter.peakDb;
            store.assign (2 * c, -60.0f);
            for (int i = 0; i < 2 * c; ++i)
                store.set (i, anyLevel (random));
            meter->timerCallback();

            const auto painted = paintMeter (true);

            // The levels the paint used are the stored display levels.
            auto expected = blankCanvas (220, 410, true);
            {
                juce::Graphics g (expected);
                for (int i = 0; i < c; ++i)
                {
                    drawPlainBar (g, image, xs[(size_t) i], offsetFor (meter->displayLevel[i]));
                    drawPlainBar (g, image, xs[(size_t) (c + i)], offsetFor (meter->displayLevel[c + i]));
                }
            }
            // The readouts are not part of this comparison.
            const juce::Rectangle<int> bars (0, 18, 220, 392);
            juce::Point<int> where;
            ASSERT_LE (largestDifference (painted.getClippedImage (bars), expected.getClippedImage (bars), &where), 1)
                << c << " channels per side, tick " << t << ", at " << where.toString();
        }
    }
}

TEST_F (VolumeMeterDrawing, ABarShowsItsLevelAndNothingAboveIt)
{
    // The uncut wide bar, drawn on its own, is what a full bar shows below its top.
    auto uncut = blankCanvas (220, 410, false);
    {
        juce::Graphics g (uncut);
        g.drawImageWithin (meter->wideBarImage, 41, 27, 5, 355, juce::RectanglePlacement::fillDestination);
    }

    const auto barColumns = juce::Range<int> (41, 46);
    auto expectRows = [&] (const juce::Image& painted, int firstUncutRow, int lastEmptyRow, const char* what)
    {
        for (int y = 0; y < 410; ++y)
            for (int x = barColumns.getStart(); x < barColumns.getEnd(); ++x)
            {
                if (y <= lastEmptyRow)
                {
                    ASSERT_EQ (painted.getPixelAt (x, y).getAlpha(), 0) << what << " " << x << ", " << y;
                }
                else if (y >= firstUncutRow)
                {
                    ASSERT_EQ (painted.getPixelAt (x, y).getARGB(), uncut.getPixelAt (x, y).getARGB()) << what << " " << x << ", " << y;
                }
            }
    };

    // A new meter shows a level at once (a rise is never slowed).
    auto showFresh = [&] (float db)
    {
        SetUp();
        showLevel (2, db);
        return paintMeter();
    };

    // 0 dB: a dome whose lowest edge lies 2 pixels below the top (y 29); below it, the whole bar.
    expectRows (showFresh (0.0f), 30, 26, "0 dB");
    EXPECT_GT (paintMeter().getPixelAt (43, 200).getAlpha(), 200);

    // -30 dB: 177.5 + 2 pixels down, so the dome's ends sit at y 206.5 and its peak,
    // 2.5 pixels higher, at y 204.
    expectRows (showFresh (-30.0f), 208, 202, "-30 dB");
    EXPECT_GT (paintMeter().getPixelAt (43, 209).getAlpha(), 200);

    // -60 dB and the empty-block value: nothing of the bar is left.
    expectRows (showFresh (-60.0f), 1000, 409, "-60 dB");
    expectRows (showFresh (-200.0f), 1000, 409, "-200 dB");
}

TEST_F (VolumeMeterDrawing, TheClipReadoutIsCentredOverItsGroup)
{
    processor->truePeakMeter.peakDb.assign (4, -60.0f);
    processor->truePeakMeter.peakDb.set (0, 1.2f);
    processor->truePeakMeter.peakDb.set (3, 12.25f);
    meter->timerCallback();
    const auto image = paintMeter();

    auto isRed = [] (juce::Colour c)
    {
        return c.getAlpha() > 100 && c.getRed() > 2 * (c.getGreen() + 10) && c.getGreen() == c.getBlue();
    };

    // The bounding box of the red text, per readout area.
    auto redBox = [&] (int left, int right)
    {
        juce::Rectangle<int> box;
        for (int y = 0; y < 410; ++y)
            for (int x = left; x < right; ++x)
                if (isRed (image.getPixelAt (x, y)))
                    box = box.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : box.getUnion ({ x, y, 1, 1 });
        return box;
    };

    const auto input = redBox (0, 84);
    const auto output = redBox (84, 220);
    ASSERT_FALSE (input.isEmpty());
    ASSERT_FALSE (output.isEmpty());

    // Centred in (13, -5, 69, 23) and (87, -5, 69, 23): x 47.5 and 121.5, y 6.5.
    EXPECT_NEAR (input.toFloat().getCentreX(), 47.5f, 1.5f);
    EXPECT_NEAR (output.toFloat().getCentreX(), 121.5f, 1.5f);
    EXPECT_NEAR (input.toFloat().getCentreY(), 6.5f, 2.0f);
    EXPECT_GT (input.getWidth(), 25);      // "1.2 dB"
    EXPECT_GT (output.getWidth(), input.getWidth()); // a longer text
    EXPECT_LT (output.getWidth(), 69);

    // The text stays within the visible part of its area.
    EXPECT_GE (input.getY(), 0);
    EXPECT_LE (input.getBottom(), 18);
    EXPECT_LE (output.getBottom(), 18);
}

TEST_F (VolumeMeterDrawing, TheClipReadoutReadsTheHoldWithOneDecimalAndItsUnit)
{
    // One channel per side draws no bars, so the readouts are all there is to see.
    struct Case { float input, output; const char* inputText; const char* outputText; };
    for (const auto& c : { Case { 1.2f, 12.34f, "1.2 dB", "12.3 dB" },
                           Case { 0.04f, 7.0f, "0.0 dB", "7.0 dB" },
                           Case { 3.96f, 0.0f, "4.0 dB", nullptr } })
    {
        SetUp();
        processor->truePeakMeter.peakDb.assign (2, -60.0f);
        processor->truePeakMeter.peakDb.set (0, c.input);
        processor->truePeakMeter.peakDb.set (1, c.output);
        meter->timerCallback();

        auto expected = blankCanvas (220, 410, false);
        {
            juce::Graphics g (expected);
            g.setColour (juce::Colours::red);
            g.setFont (13.0f);
            g.drawText (c.inputText, juce::Rectangle<float> (13.0f, -5.0f, 69.0f, 23.0f), juce::Justification::centred, true);
            if (c.outputText != nullptr)
                g.drawText (c.outputText, juce::Rectangle<float> (87.0f, -5.0f, 69.0f, 23.0f), juce::Justification::centred, true);
        }
        juce::Point<int> where;
        EXPECT_EQ (largestDifference (paintMeter(), expected, &where), 0) << c.inputText << " at " << where.toString();
    }
}

TEST_F (VolumeMeterDrawing, BarsComeFromTheirOwnArtwork)
{
    // The wide bar for 2 to 5 channels per side, the thin one for 6 to 12.
    auto expectResource = [] (const juce::Image& image, const char* data, int size, int width)
    {
        const auto resource = juce::ImageCache::getFromMemory (data, size);
        ASSERT_EQ (image.getBounds(), juce::Rectangle<int> (width, 710));
        EXPECT_EQ (image.getPixelData(), resource.getPixelData());
    };
    expectResource (meter->wideBarImage, BinaryData::temp_binary_data_40, BinaryData::temp_binary_data_40Size, 10);
    expectResource (meter->thinBarImage, BinaryData::temp_binary_data_41, BinaryData::temp_binary_data_41Size, 4);

    for (int c = 2; c <= 12; ++c)
        EXPECT_EQ (meter->barLayout (c).image, c <= 5 ? &meter->wideBarImage : &meter->thinBarImage) << c;
}
