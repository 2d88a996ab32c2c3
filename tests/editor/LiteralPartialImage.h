#pragma once

#include <juce_graphics/juce_graphics.h>

/**
    The plain way to show part of an image, step by step: a private copy of the
    pixels, the path filled in white into a cleared ARGB mask of the same size, and
    every copy pixel under a non-zero mask alpha made fully transparent. Tests hold
    the fast drawing of the meter bars and the mix ring against this.
*/
inline juce::Image cutAwayLiterally (const juce::Image& source, const juce::Path& cut)
{
    auto copy = source.createCopy();
    juce::Image mask (juce::Image::ARGB, source.getWidth(), source.getHeight(), true);
    {
        juce::Graphics g (mask);
        g.setColour (juce::Colours::white);
        g.fillPath (cut);
    }
    if (copy.getFormat() != juce::Image::ARGB)
        return copy;

    juce::Image::BitmapData pixels (copy, juce::Image::BitmapData::readWrite);
    juce::Image::BitmapData maskPixels (mask, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < copy.getHeight(); ++y)
        for (int x = 0; x < copy.getWidth(); ++x)
            if (maskPixels.getPixelColour (x, y).getAlpha() != 0)
                pixels.setPixelColour (x, y, juce::Colours::transparentBlack);
    return copy;
}
