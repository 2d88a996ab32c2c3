#include "editor/TriangleSegment.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

// Expected figures were computed outside JUCE, with a short numpy script that rounds
// every step to float32 where the pad works in float and keeps double where it works
// in double (sqrt3 = 1.73205f, side = 434.05774, bottom-left corner (38.971123, 422.5)).

namespace
{
constexpr double pixelTolerance = 1e-3;   // handle positions, in pad pixels
constexpr double rawKnobTolerance = 5e-5; // knob values before the step is applied
constexpr double snappedTolerance = 1e-6; // knob values on the 0.05 grid

struct PadFixture : public testing::Test
{
    explicit PadFixture (double step = 0.05)
    {
        // The range and step that the parameter attachments give the editor's sliders.
        for (auto* slider : { &knob1, &knob2 })
            slider->setNormalisableRange ({ 0.0, 1.0, step });

        pad.setSize (512, 445);
        pad.setupGeometry();
        placeFromKnobs (0.35, 0.35);
    }

    void placeFromKnobs (double k1, double k2)
    {
        knob1.setValue (k1, juce::dontSendNotification);
        knob2.setValue (k2, juce::dontSendNotification);
        pad.setHandleFromKnobs();
    }

    juce::MouseEvent event (juce::Point<float> position, juce::Point<float> pressedAt, bool dragged)
    {
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), position,
                 juce::ModifierKeys::leftButtonModifier, juce::MouseInputSource::defaultPressure,
                 0.0f, 0.0f, 0.0f, 0.0f, &pad, &pad, now, pressedAt, now, 1, dragged };
    }

    void press (float x, float y) { pad.mouseDown (event ({ x, y }, { x, y }, false)); }

    void drag (juce::Point<float> pressedAt, juce::Point<float> to, bool dragged = true)
    {
        pad.mouseDrag (event (to, pressedAt, dragged));
    }

    void expectHandleAt (double x, double y)
    {
        EXPECT_NEAR (pad.getHandlePosition().x, x, pixelTolerance);
        EXPECT_NEAR (pad.getHandlePosition().y, y, pixelTolerance);
    }

    void expectKnobs (double k1, double k2, double tolerance)
    {
        EXPECT_NEAR (knob1.getValue(), k1, tolerance);
        EXPECT_NEAR (knob2.getValue(), k2, tolerance);
    }

    juce::Slider knob1, knob2;
    TriangleSegment pad { &knob1, &knob2 };
};

// Sliders without a step show the values the pad computes before any snapping.
struct UnsnappedPadFixture : public PadFixture
{
    UnsnappedPadFixture() : PadFixture (0.0) {}
};

const juce::Point<float> padCentre { 256.0f, 297.0f };
} // namespace

TEST_F (PadFixture, HandleIsPlacedFromTheKnobs)
{
    struct Case { double k1, k2, x, y; };
    const Case cases[] = { { 0.35, 0.35, 266.85144, 290.93332 },
                           { 0.05, 0.85, 245.14854, 102.98089 },
                           { 0.85, 0.05, 418.77164, 403.70477 },
                           { 0.25, 0.50, 256.00000, 234.54758 },
                           { 0.50, 0.25, 310.25720, 328.52380 },
                           { 0.00, 0.00, 38.971123, 422.5 },
                           { 1.00, 0.00, 473.02887, 422.5 },
                           { 0.00, 1.00, 256.00000, 46.595154 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.k1) + " / " + juce::String (c.k2));
        placeFromKnobs (c.k1, c.k2);
        expectHandleAt (c.x, c.y);
    }
}

TEST_F (UnsnappedPadFixture, KnobsReadBackFromAPlacedHandleAreTheOnesThatPlacedIt)
{
    for (auto [k1, k2] : { std::pair { 0.35, 0.35 }, { 0.05, 0.85 }, { 0.85, 0.05 }, { 0.123, 0.456 } })
    {
        placeFromKnobs (k1, k2);
        pad.setKnobsFromHandle();
        expectKnobs (k1, k2, 1e-6);
    }
}

TEST_F (PadFixture, HandleStaysWhenTheKnobsMoveWithoutTheEditorAsking)
{
    knob1.setValue (0.9, juce::sendNotificationSync);
    expectHandleAt (266.85144, 290.93332);
}

TEST_F (UnsnappedPadFixture, PressInsideMovesTheHandleAndWritesUnsnappedValues)
{
    press (256.0f, 297.0f);
    expectHandleAt (256.0, 297.0);
    expectKnobs (0.33307, 0.33386, rawKnobTolerance);

    press (256.0f, 94.0f);
    expectHandleAt (256.0, 94.0);
    expectKnobs (0.06305, 0.87389, rawKnobTolerance);
}

TEST_F (PadFixture, PressInsideWritesKnobsSnappedToTheirStep)
{
    press (256.0f, 297.0f);
    expectKnobs (0.35, 0.35, snappedTolerance);

    press (256.0f, 94.0f);
    expectKnobs (0.05, 0.85, snappedTolerance);
}

TEST_F (PadFixture, PressUsesThePositionRoundedToWholePixels)
{
    press (255.6f, 296.7f);
    expectHandleAt (256.0, 297.0);
}

TEST_F (PadFixture, PressOutsideTheRoundedTriangleChangesNothing)
{
    placeFromKnobs (0.5, 0.25);

    // On the top circle itself; in the cut-off bottom-left corner; outside the triangle.
    for (auto [x, y] : { std::pair { 256.0f, 93.0f }, { 60.0f, 410.0f }, { 5.0f, 5.0f }, { 505.0f, 440.0f } })
    {
        SCOPED_TRACE (juce::String (x) + ", " + juce::String (y));
        press (x, y);
        expectHandleAt (310.25720, 328.52380);
        expectKnobs (0.5, 0.25, snappedTolerance);
    }
}

TEST_F (PadFixture, KnobsChangeAtOnceButTellTheirListenersLater)
{
    struct Counter : juce::Slider::Listener
    {
        void sliderValueChanged (juce::Slider*) override { ++calls; }
        int calls = 0;
    } counter;

    knob1.addListener (&counter);
    knob2.addListener (&counter);
    press (256.0f, 94.0f);

    EXPECT_EQ (counter.calls, 0);
    expectKnobs (0.05, 0.85, snappedTolerance);

    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (counter.calls, 2);

    knob1.removeListener (&counter);
    knob2.removeListener (&counter);
}

TEST_F (PadFixture, DragInsideMovesTheHandleToTheRoundedPointer)
{
    drag (padCentre, { 300.4f, 249.6f });
    expectHandleAt (300.0, 250.0);
}

TEST_F (UnsnappedPadFixture, DragOutsideClampsTheHandleToTheBorderTowardsThePointer)
{
    struct Case { float x, y; double handleX, handleY, k1, k2; };
    const Case cases[] = { { 700.0f, 300.0f, 400.99374, 297.75519, 0.66812, 0.33185 },  // right edge
                           { 256.0f, 0.0f, 256.0, 93.02701, 0.06176, 0.87648 },         // top circle
                           { 0.0f, 445.0f, 80.41251, 398.40680, 0.06343, 0.06409 },     // bottom-left circle
                           { 600.0f, 445.0f, 437.99414, 375.14282, 0.85629, 0.12598 } }; // bottom-right circle

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.x) + ", " + juce::String (c.y));
        drag (padCentre, { c.x, c.y });
        expectHandleAt (c.handleX, c.handleY);
        expectKnobs (c.k1, c.k2, rawKnobTolerance);
        EXPECT_TRUE (pad.isInside (pad.getHandlePosition()));
    }
}

TEST_F (PadFixture, ClampedDragWritesSnappedKnobs)
{
    // The rounded top keeps Knob2 below 0.877: the top corner's 1 is out of reach.
    drag (padCentre, { 256.0f, 0.0f });
    expectKnobs (0.05, 0.9, snappedTolerance);

    drag (padCentre, { 700.0f, 300.0f });
    expectKnobs (0.65, 0.35, snappedTolerance);
}

TEST_F (PadFixture, DragFromTheCutOffCornerMovesTheHandleOntoTheBorder)
{
    const juce::Point<float> corner { 60.0f, 410.0f };
    press (corner.x, corner.y);
    expectHandleAt (266.85144, 290.93332);

    drag (corner, corner);
    expectHandleAt (80.29861, 398.26270);
}

TEST_F (PadFixture, DragFarOffscreenStillLeavesTheHandleInside)
{
    for (auto to : { juce::Point<float> { 100000.0f, -100000.0f }, { -100000.0f, 100000.0f }, { 256.0f, 100000.0f } })
    {
        drag (padCentre, to);
        EXPECT_TRUE (pad.isInside (pad.getHandlePosition()));
    }
}

TEST_F (PadFixture, DragActsOnlyWhenThePressLayWithinTwentyPixelsOfTheTriangle)
{
    // The left edge crosses y = 300 at x = 109.7, so the margin ends at x = 89.7.
    struct Case { juce::Point<float> pressedAt; bool acts; };
    const Case cases[] = { { { 79.0f, 300.0f }, false },
                           { { 89.0f, 300.0f }, false },
                           { { 90.0f, 300.0f }, true },
                           { { 95.0f, 300.0f }, true },
                           { { 256.0f, 442.0f }, true },  // 19.5 px below the bottom edge
                           { { 256.0f, 442.4f }, true },  // rounded to 442
                           { { 256.0f, 443.0f }, false },
                           { { 256.0f, 442.6f }, false }, // rounded to 443
                           { { 5.0f, 5.0f }, false },
                           { { 505.0f, 440.0f }, false } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.pressedAt.toString());
        placeFromKnobs (0.5, 0.25);

        for (auto to : { juce::Point<float> { 256.0f, 297.0f }, { 700.0f, 300.0f } })
            drag (c.pressedAt, to);

        const bool moved = pad.getHandlePosition() != juce::Point<float> { 310.25720f, 328.52380f };
        EXPECT_EQ (moved, c.acts);
        EXPECT_EQ (knob1.getValue() != 0.5, c.acts);
    }
}

TEST_F (PadFixture, MovementTheFrameworkDoesNotYetCountAsADragChangesNothing)
{
    drag (padCentre, { 258.0f, 299.0f }, false);
    expectHandleAt (266.85144, 290.93332);
    expectKnobs (0.35, 0.35, snappedTolerance);
}

TEST_F (PadFixture, RoundedTriangleBordersAndCorners)
{
    struct Case { float x, y; bool inside; };
    const Case cases[] = {
        { 256.0f, 296.6667f, true },  // centre of the clamp
        { 256.0f, 93.0f, false },     // exactly on the top circle: the comparison is strict
        { 256.0f, 94.0f, true },
        { 424.0f, 408.0f, true },     // bottom-right circle, 33 px diagonally from its centre
        { 425.0f, 409.0f, false },
        { 88.0f, 408.0f, true },      // bottom-left circle, the mirror image
        { 87.0f, 409.0f, false },
        { 438.0f, 375.0f, false },    // exactly on the corner circles, 47 px across or down
        { 437.0f, 375.0f, true },
        { 391.0f, 422.0f, false },
        { 391.0f, 421.0f, true },
        { 74.0f, 375.0f, false },
        { 75.0f, 375.0f, true },
        { 121.0f, 422.0f, false },
        { 121.0f, 421.0f, true },
        { 256.0f, 422.5f, true },     // on the bottom edge
        { 256.0f, 422.6f, false },
        { 109.7f, 300.0f, true },     // the left edge crosses y = 300 at 109.697
        { 109.6f, 300.0f, false },
        { 402.3f, 300.0f, true },     // the right edge crosses y = 300 at 402.303
        { 402.4f, 300.0f, false },
        { 213.04231f, 121.0f, true }, // points whose edge test gives exactly 0 in float lie on the edge
        { 213.0423f, 121.0f, false }, // the float just left of it
        { 298.38034f, 120.0f, true },
        { 298.38037f, 120.0f, false },
        { 38.97f, 422.5f, false },    // the sharp corners are cut off
        { 473.0f, 422.5f, false },
        { 256.0f, 47.0f, false },
        { 0.0f, 0.0f, false },        // the pad's own corners
        { 511.0f, 0.0f, false },
        { 0.0f, 444.0f, false },
        { 511.0f, 444.0f, false },
        { -10.0f, 300.0f, false },    // beyond the pad
        { 256.0f, 600.0f, false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (pad.isInside ({ c.x, c.y }), c.inside) << c.x << ", " << c.y;
}

TEST_F (PadFixture, WholeRectangleTakesTheMouse)
{
    // Presses beside the triangle land on the pad, which ignores them, rather than on
    // whatever lies below it in the window.
    for (auto [x, y] : { std::pair { 0, 0 }, { 511, 0 }, { 0, 444 }, { 511, 444 }, { 20, 300 } })
        EXPECT_TRUE (pad.hitTest (x, y)) << x << ", " << y;

    EXPECT_FALSE (pad.contains (juce::Point<int> { 512, 445 }));
    EXPECT_FALSE (pad.contains (juce::Point<int> { -1, 10 }));
}

namespace
{
juce::Rectangle<int> paintedArea (const juce::Image& image)
{
    juce::Rectangle<int> area;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() > 0)
                area = area.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : area.getUnion ({ x, y, 1, 1 });

    return area;
}

juce::Image paintPad (TriangleSegment& pad)
{
    juce::Image image (juce::Image::ARGB, pad.getWidth(), pad.getHeight(), true);
    juce::Graphics g (image);
    pad.paint (g);
    return image;
}
} // namespace

TEST_F (PadFixture, PaintDrawsOnlyTheHandleCentredWhereItIs)
{
    // The handle's disc reaches to 1.5 px of its 76 x 76 square (3 px of the 152 px artwork).
    for (auto [k1, k2] : { std::pair { 0.35, 0.35 }, { 0.85, 0.05 }, { 0.05, 0.85 } })
    {
        SCOPED_TRACE (juce::String (k1) + " / " + juce::String (k2));
        placeFromKnobs (k1, k2);
        const auto handle = pad.getHandlePosition();
        const juce::Rectangle<int> square { (int) (handle.x - 38.0f), (int) (handle.y - 38.0f), 76, 76 };

        const auto image = paintPad (pad);
        const auto painted = paintedArea (image);

        EXPECT_TRUE (square.contains (painted)) << painted.toString() << " in " << square.toString();
        EXPECT_GE (painted.getWidth(), 72);
        EXPECT_GE (painted.getHeight(), 72);
        EXPECT_NEAR (painted.getCentreX(), square.getCentreX(), 1);
        EXPECT_NEAR (painted.getCentreY(), square.getCentreY(), 1);

        // The disc's middle is white and opaque.
        const auto middle = image.getPixelAt (square.getCentreX(), square.getCentreY());
        EXPECT_EQ (middle.getAlpha(), 255);
        EXPECT_GE (juce::jmin (middle.getRed(), middle.getGreen(), middle.getBlue()), 240);
    }
}

namespace
{
int largestChannelDifference (const juce::Image& a, const juce::Image& b)
{
    int largest = 0;

    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            const auto p = a.getPixelAt (x, y);
            const auto q = b.getPixelAt (x, y);
            for (auto d : { p.getAlpha() - q.getAlpha(), p.getRed() - q.getRed(),
                            p.getGreen() - q.getGreen(), p.getBlue() - q.getBlue() })
                largest = juce::jmax (largest, std::abs (d));
        }

    return largest;
}

juce::Image handleArtworkAt (int x, int y)
{
    const auto artwork = juce::ImageCache::getFromMemory (BinaryData::temp_binary_data_63,
                                                          BinaryData::temp_binary_data_63Size);
    juce::Image image (juce::Image::ARGB, 512, 445, true);
    juce::Graphics g (image);
    g.drawImage (artwork, x, y, 76, 76, 0, 0, artwork.getWidth(), artwork.getHeight());
    return image;
}
} // namespace

TEST_F (PadFixture, PaintTruncatesTheHandleSquareTowardsZero)
{
    placeFromKnobs (0.35, 0.35); // handle at (266.85, 290.93): square from (228.85, 252.93)
    const auto painted = paintPad (pad);

    EXPECT_LE (largestChannelDifference (painted, handleArtworkAt (228, 252)), 1);
    EXPECT_GT (largestChannelDifference (painted, handleArtworkAt (229, 253)), 16);
}
