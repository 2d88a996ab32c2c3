#include "editor/LinkToggleBtn.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

LinkToggleBtn::LinkToggleBtn()
    : onImage (EditorImages::load (BinaryData::temp_binary_data_44, BinaryData::temp_binary_data_44Size)),
      offImage (EditorImages::load (BinaryData::temp_binary_data_43, BinaryData::temp_binary_data_43Size))
{
}

LinkToggleBtn::~LinkToggleBtn() = default;

void LinkToggleBtn::paintButton (juce::Graphics& g, bool, bool)
{
    EditorImages::drawFitted (g, getToggleState() ? onImage : offImage, getLocalBounds());
}
