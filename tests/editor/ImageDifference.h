#pragma once

#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <cstdlib>

/** The largest difference of any one byte of any pixel of two images of the same size and format. */
inline int largestChannelDifference (const juce::Image& a, const juce::Image& b)
{
    const juce::Image::BitmapData pa (a, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData pb (b, juce::Image::BitmapData::readOnly);
    int largest = 0;
    for (int y = 0; y < pa.height; ++y)
        for (int x = 0; x < pa.width * pa.pixelStride; ++x)
            largest = std::max (largest, std::abs ((int) pa.getLinePointer (y)[x] - (int) pb.getLinePointer (y)[x]));
    return largest;
}
