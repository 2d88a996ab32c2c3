#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The information button (the maker's lettering). While it is on it spans the whole
    editor and draws the about panel; the rest of the window stays uncovered.
*/
class InfoToggleBtn : public juce::ToggleButton
{
public:
    InfoToggleBtn();
    ~InfoToggleBtn() override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    /** The button's place in editor coordinates, where it is drawn while it spans the window. */
    static constexpr int homeX = 687, homeY = 518, homeWidth = 184, homeHeight = 46;

    juce::Image panelImage;
    juce::Image normalImage;
    juce::Image hoverImage;

private:
    const juce::Image* chooseImage() const;
};

/**
    The information button and its about panel. While the panel is open the segment
    covers the window: the panel's body swallows clicks, its manual link opens the
    online manual, and a click anywhere else closes the panel.
*/
class InformationSegment : public juce::Component
{
public:
    InformationSegment();
    ~InformationSegment() override;
    void paint (juce::Graphics&) override;

    /** The online manual that the panel's link opens in the default browser. */
    static constexpr const char* manualAddress = "https://brackwell.example/tessaline/manual";

    /** Where the panel and its link lie, in editor coordinates. */
    static constexpr int panelX = 269, panelY = 118, panelWidth = 370, panelHeight = 344;
    static constexpr int linkX = 401, linkY = 338, linkWidth = 106, linkHeight = 25;

    juce::ImageButton manualLink;
    juce::ImageButton panelBody;
    InfoToggleBtn toggle;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InformationSegment)
};
