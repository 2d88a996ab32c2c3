#include "editor/PresetImageBtn.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

PresetImageBtn::PresetImageBtn()
    : juce::ImageButton (juce::String()),
      normalImage (EditorImages::load (BinaryData::temp_binary_data_61, BinaryData::temp_binary_data_61Size)),
      pressedImage (EditorImages::load (BinaryData::temp_binary_data_62, BinaryData::temp_binary_data_62Size))
{
}

PresetImageBtn::~PresetImageBtn() = default;

void PresetImageBtn::paintButton (juce::Graphics& g, bool, bool)
{
    const auto& image = getState() == buttonDown ? pressedImage : normalImage;
    EditorImages::drawFitted (g, image, { 0, 0, image.getWidth() / 2, image.getHeight() / 2 });
}
