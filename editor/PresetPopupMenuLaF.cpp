#include "editor/PresetPopupMenuLaF.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

PresetPopupMenuLaF::PresetPopupMenuLaF()
    : backgroundImage (EditorImages::load (BinaryData::temp_binary_data_54, BinaryData::temp_binary_data_54Size))
{
}

PresetPopupMenuLaF::~PresetPopupMenuLaF() = default;

void PresetPopupMenuLaF::drawPopupMenuBackground (juce::Graphics& g, int, int)
{
    // The menu is 200 pixels wide for the rows' mouse areas, but the panel is only
    // as wide as the row artwork: the strip to its right stays transparent.
    if (backgroundImage.isValid())
        EditorImages::drawFitted (g, backgroundImage, { 0, 0, 173, 164 });
}

int PresetPopupMenuLaF::getPopupMenuBorderSize()
{
    return 0;
}
