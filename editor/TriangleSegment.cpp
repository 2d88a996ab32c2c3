#include "editor/TriangleSegment.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

namespace
{
    // The edge tests forgive this much, so that a point computed on an edge counts as inside.
    constexpr double edgeTolerance = 1e-6;

    // Presses this far outside the triangle (in pixels) still start a drag of the handle.
    constexpr float pressMargin = 20.0f;

    constexpr float cornerRadiusSquared = 2209.0f; // 47 px

    // The handle image is made at twice the size at which it is drawn.
    constexpr int handleSize = 76;
}

TriangleSegment::TriangleSegment (juce::Slider* knob1Slider, juce::Slider* knob2Slider)
    : knob1 (knob1Slider),
      knob2 (knob2Slider),
      handleImage (EditorImages::load (BinaryData::temp_binary_data_63, BinaryData::temp_binary_data_63Size))
{
    jassert (knob1 != nullptr && knob2 != nullptr);
}

TriangleSegment::~TriangleSegment() = default;

void TriangleSegment::setupGeometry()
{
    // The side depends on the window's fixed pad width, not on the current one: the
    // background's triangle artwork was drawn for exactly this size.
    side = 512.0f - 45.0f * sqrt3;
    bottomLeft = { 22.5f * sqrt3, (float) getHeight() - 22.5f };
}

TriangleSegment::Offset TriangleSegment::offsetOf (juce::Point<float> q) const noexcept
{
    return { q.x - bottomLeft.x, bottomLeft.y - q.y };
}

void TriangleSegment::setHandleFromKnobs()
{
    if (knob1 == nullptr || knob2 == nullptr)
        return;

    const double k1 = knob1->getValue();
    const double k2 = knob2->getValue();
    const double s = side;
    const double root3 = sqrt3;

    const double height = k2 * 0.5 * s * root3;
    handlePosition.x = (float) ((double) bottomLeft.x + (height / root3 + k1 * s));
    handlePosition.y = (float) ((double) bottomLeft.y - height);
    repaint();
}

void TriangleSegment::setKnobsFromHandle()
{
    if (knob1 == nullptr || knob2 == nullptr)
        return;

    const auto offset = offsetOf (handlePosition);
    const double dx = offset.dx;
    const double up = offset.up;
    const double s = side;
    const double root3 = sqrt3;

    // Asynchronous, so that the parameters follow after the mouse callback has returned.
    knob1->setValue ((dx - up / root3) / s, juce::sendNotificationAsync);
    knob2->setValue ((2.0 * up / root3) / s, juce::sendNotificationAsync);
}

bool TriangleSegment::isInside (juce::Point<float> q) const
{
    const auto [dx, up] = offsetOf (q);

    if ((double) up + edgeTolerance < 0.0)
        return false;

    if ((double) (dx * sqrt3 - up) + edgeTolerance < 0.0)
        return false;

    if ((double) (dx * sqrt3 + up - sqrt3 * side) - edgeTolerance > 0.0)
        return false;

    // The corners are cut off by circles that touch both edges meeting there. Their
    // centres and zones are fixed numbers for the pad's one size.
    const auto x = q.x;
    const auto y = q.y;

    if (x >= 391.0f && y >= 345.0f)
        return (x - 391.0f) * (x - 391.0f) + (y - 375.0f) * (y - 375.0f) < cornerRadiusSquared;

    if (x <= 121.0f && y >= 345.0f)
        return (121.0f - x) * (121.0f - x) + (y - 375.0f) * (y - 375.0f) < cornerRadiusSquared;

    if (y <= 109.0f)
        return (140.0f - y) * (140.0f - y) + (x - 256.0f) * (x - 256.0f) < cornerRadiusSquared;

    return true;
}

void TriangleSegment::mouseDown (const juce::MouseEvent& event)
{
    const auto press = event.getMouseDownPosition().toFloat();

    if (! isInside (press))
        return;

    handlePosition = press;
    setKnobsFromHandle();
    repaint();
}

bool TriangleSegment::pressAllowsDrag (juce::Point<float> press) const
{
    // The triangle widened by the margin, with sharp corners.
    const auto [dx, up] = offsetOf (press);

    if (up < -pressMargin)
        return false;

    if ((double) ((dx + pressMargin) * sqrt3 - up) + edgeTolerance < 0.0)
        return false;

    if ((double) ((dx - pressMargin) * sqrt3 + up - sqrt3 * side) - edgeTolerance > 0.0)
        return false;

    return true;
}

juce::Point<float> TriangleSegment::clampToBorder (juce::Point<float> pointer) const
{
    // Bisection along the line from a point well inside the triangle to the pointer.
    // Eleven halvings of 1.1 come within a thousandth of the border.
    const juce::Point<float> centre { (float) getWidth() * 0.5f, (float) (getHeight() + getHeight()) / 3.0f };
    const auto direction = pointer - centre;
    float lo = 0.0f;
    float hi = 1.1f;

    while ((double) (hi - lo) > 0.001)
    {
        const float mid = (hi + lo) * 0.5f;

        if (isInside (centre + direction * mid))
            lo = mid;
        else
            hi = mid;
    }

    return centre + direction * lo;
}

void TriangleSegment::mouseDrag (const juce::MouseEvent& event)
{
    if (! event.mouseWasDraggedSinceMouseDown())
        return;

    if (! pressAllowsDrag (event.getMouseDownPosition().toFloat()))
        return;

    const juce::Point<float> pointer { (float) event.x, (float) event.y };
    handlePosition = isInside (pointer) ? pointer : clampToBorder (pointer);
    setKnobsFromHandle();
    repaint();
}

void TriangleSegment::paint (juce::Graphics& g)
{
    const juce::Rectangle<int> area { (int) (handlePosition.x - 38.0f), (int) (handlePosition.y - 38.0f),
                                      handleSize, handleSize };
    EditorImages::drawFitted (g, handleImage, area);
}
