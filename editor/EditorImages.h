#pragma once

#include <juce_graphics/juce_graphics.h>

/**
    The window's artwork is embedded at twice the size at which it is shown. These
    two helpers are the one way the editor loads and places it.
*/
namespace EditorImages
{
    /** The embedded PNG, decoded once and shared through the image cache. Message thread. */
    inline juce::Image load (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    /** Draws the image scaled to cover the area, proportions kept, centred. */
    inline void drawFitted (juce::Graphics& g, const juce::Image& image, juce::Rectangle<int> area)
    {
        g.drawImageWithin (image, area.getX(), area.getY(), area.getWidth(), area.getHeight(),
                           juce::RectanglePlacement::fillDestination);
    }
}
