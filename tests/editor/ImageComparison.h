#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>

namespace ImageComparison
{
    /** A transparent ARGB picture of the component as it paints itself and its children. */
    inline juce::Image render (juce::Component& c)
    {
        juce::Image image (juce::Image::ARGB, c.getWidth(), c.getHeight(), true, juce::SoftwareImageType());
        juce::Graphics g (image);
        c.paintEntireComponent (g, false);
        return image;
    }

    /** What a picture should look like: the given images drawn in order, each fitted into its area. */
    struct Placed
    {
        const juce::Image* image;
        juce::Rectangle<int> area;
    };

    inline juce::Image expected (int width, int height, std::initializer_list<Placed> images)
    {
        juce::Image image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
        juce::Graphics g (image);
        for (const auto& placed : images)
            g.drawImageWithin (*placed.image, placed.area.getX(), placed.area.getY(), placed.area.getWidth(),
                               placed.area.getHeight(), juce::RectanglePlacement::fillDestination);
        return image;
    }

    /** Mean absolute difference of all four channels over the given area, in 0..255 steps
        (pictures without alpha count it as equal). */
    inline double meanDifference (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
    {
        const juce::Image::BitmapData pa (a, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData pb (b, juce::Image::BitmapData::readOnly);
        double sum = 0.0;
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto ca = pa.getPixelColour (x, y), cb = pb.getPixelColour (x, y);
                sum += std::abs ((int) ca.getAlpha() - (int) cb.getAlpha()) + std::abs ((int) ca.getRed() - (int) cb.getRed())
                     + std::abs ((int) ca.getGreen() - (int) cb.getGreen()) + std::abs ((int) ca.getBlue() - (int) cb.getBlue());
            }
        return sum / (4.0 * area.getWidth() * area.getHeight());
    }

    inline double meanDifference (const juce::Image& a, const juce::Image& b)
    {
        return meanDifference (a, b, a.getBounds());
    }

    /** The largest mean difference over the square tiles of the picture, and where it lies. */
    struct WorstTile
    {
        double difference = 0.0;
        juce::Rectangle<int> area;
    };

    inline WorstTile worstTile (const juce::Image& a, const juce::Image& b, int tileSize)
    {
        WorstTile worst;
        for (int y = 0; y < a.getHeight(); y += tileSize)
            for (int x = 0; x < a.getWidth(); x += tileSize)
            {
                const auto tile = juce::Rectangle<int> (x, y, tileSize, tileSize).getIntersection (a.getBounds());
                if (const auto d = meanDifference (a, b, tile); d > worst.difference)
                    worst = { d, tile };
            }
        return worst;
    }
}
