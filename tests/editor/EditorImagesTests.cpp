#include "editor/EditorImages.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

TEST (EditorImages, EmbeddedBackgroundDecodesAtTwiceTheWindowSize)
{
    auto background = EditorImages::load (BinaryData::temp_binary_data_64, BinaryData::temp_binary_data_64Size);
    EXPECT_EQ (background.getWidth(), 1800);
    EXPECT_EQ (background.getHeight(), 1134);
}
