#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    One row of the preset menu: a preset's name over the row artwork, or one of the
    two thin caps that round off the panel above and below the presets. The menu
    wraps each row in an item component of its own; the row shows that wrapper's
    highlight. Message thread.
*/
class PresetCustomComponent : public juce::PopupMenu::CustomComponent
{
public:
    enum Kind
    {
        topCap = 1,
        presetRow = 2,
        bottomCap = 3
    };

    static constexpr int width = 200;
    static constexpr int rowHeight = 30;
    static constexpr int capHeight = 6;

    PresetCustomComponent (const juce::String& text, int kind);
    ~PresetCustomComponent() override;

    /** A preset row draws its artwork (highlighted while the wrapping menu item is) and its name; a cap draws nothing. */
    void paint (juce::Graphics& g) override;

    /** 200 wide; 30 high for a preset row, 6 for a cap. */
    void getIdealSize (int& idealWidth, int& idealHeight) override;

    /**
        Every preset segment holds the row artwork while it lives: the images are
        loaded by the first holder and released by the last, so closing one of two
        open windows leaves the other's rows intact.
    */
    static void holdRowImages();
    static void releaseRowImages();

    juce::String text;
    int kind;

    /** Shared by every row in the process; valid while any preset segment lives. */
    static juce::Image img_item;
    static juce::Image img_item_hi;

private:
    bool isHighlightedInMenu() const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetCustomComponent)
};
