#include "editor/PresetCustomComponent.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

juce::Image PresetCustomComponent::img_item;
juce::Image PresetCustomComponent::img_item_hi;

namespace
{
    // How many preset segments hold the row images; message thread only.
    int rowImageHolders = 0;
}

PresetCustomComponent::PresetCustomComponent (const juce::String& textToShow, int rowKind)
    : text (textToShow), kind (rowKind)
{
}

PresetCustomComponent::~PresetCustomComponent() = default;

void PresetCustomComponent::holdRowImages()
{
    ++rowImageHolders;
    img_item_hi = EditorImages::load (BinaryData::temp_binary_data_48, BinaryData::temp_binary_data_48Size);
    img_item = EditorImages::load (BinaryData::temp_binary_data_49, BinaryData::temp_binary_data_49Size);
}

void PresetCustomComponent::releaseRowImages()
{
    jassert (rowImageHolders > 0);

    if (--rowImageHolders > 0)
        return;

    img_item = {};
    img_item_hi = {};
}

bool PresetCustomComponent::isHighlightedInMenu() const
{
    // Outside a menu item there is no highlight to show: such a row looks like a plain row.
    auto* wrapper = dynamic_cast<const juce::PopupMenu::CustomComponent*> (getParentComponent());
    return wrapper != nullptr && wrapper->isItemHighlighted();
}

void PresetCustomComponent::paint (juce::Graphics& g)
{
    g.setFont (13.0f);

    if (kind != presetRow)
        return;

    const auto& image = isHighlightedInMenu() ? img_item_hi : img_item;

    if (image.isValid())
        EditorImages::drawFitted (g, image, { 0, 0, 171, 30 });

    g.setColour (juce::Colour (0xff868c94));
    g.drawFittedText (text, { 12, 6, 100, 18 }, juce::Justification::centredLeft, 1, 0.0f);
}

void PresetCustomComponent::getIdealSize (int& idealWidth, int& idealHeight)
{
    idealWidth = width;
    idealHeight = kind == presetRow ? rowHeight : capHeight;
}
