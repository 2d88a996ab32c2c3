// The automatic-gain switch, the bypass button with its overlay and the information
// button with its about panel: what each draws in each state, where the hot spots
// lie, and how presses and releases in a real window act on them.

#include "editor/AutoGainSegment.h"
#include "editor/BypassSegment.h"
#include "editor/InformationSegment.h"

#include "tests/editor/ImageComparison.h"
#include "tests/editor/WindowPointer.h"

#include <gtest/gtest.h>

#include <cstdlib>

using ImageComparison::expected;
using ImageComparison::meanDifference;
using ImageComparison::render;

namespace
{
// A picture that matches differs from its reference by rounding only; a wrong image
// or a wrong place differs by whole colours over much of the area.
constexpr double samePicture = 0.5;
constexpr double differentPicture = 5.0;

const juce::Rectangle<int> window { 0, 0, 900, 567 };
const juce::Rectangle<int> bypassHome { 713, 25, 120, 65 };
const juce::Rectangle<int> infoHome { 687, 518, 184, 46 };
const juce::Rectangle<int> aboutPanel { 269, 118, 370, 344 };
const juce::Rectangle<int> manualLinkArea { 401, 338, 106, 25 };

void pressState (juce::Button& b, juce::Button::ButtonState state) { b.setState (state); }
}

//==============================================================================
TEST (AutoGainSegment, ShowsTheSwitchPositionOfItsToggle)
{
    AutoGainSegment segment;
    segment.setSize (159, 81);

    EXPECT_EQ (segment.currentImage, &segment.offImage);
    EXPECT_EQ (segment.onImage.getBounds(), juce::Rectangle<int> (318, 162));
    EXPECT_LT (meanDifference (render (segment), expected (159, 81, { { &segment.offImage, { 0, 0, 159, 81 } } })), samePicture);

    segment.toggle.setToggleState (true, juce::sendNotificationSync);
    EXPECT_EQ (segment.currentImage, &segment.onImage);
    const auto on = render (segment);
    EXPECT_LT (meanDifference (on, expected (159, 81, { { &segment.onImage, { 0, 0, 159, 81 } } })), samePicture);
    EXPECT_GT (meanDifference (on, expected (159, 81, { { &segment.offImage, { 0, 0, 159, 81 } } })), differentPicture);

    segment.toggle.setToggleState (false, juce::sendNotificationSync);
    EXPECT_EQ (segment.currentImage, &segment.offImage);
}

TEST (AutoGainSegment, HoverAndHeldPressLeaveTheImage)
{
    AutoGainSegment segment;
    segment.toggle.setToggleState (true, juce::sendNotificationSync);

    for (auto state : { juce::Button::buttonOver, juce::Button::buttonDown, juce::Button::buttonNormal })
    {
        pressState (segment.toggle, state);
        EXPECT_EQ (segment.currentImage, &segment.onImage);
    }
}

TEST (AutoGainSegment, AClickAnywhereOnTheSwitchFlipsIt)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    AutoGainSegment segment;
    segment.setSize (159, 81);
    WindowPointer pointer (segment);

    pointer.move ({ 10, 70 });
    pointer.press ({ 10, 70 });
    EXPECT_FALSE (segment.toggle.getToggleState());
    EXPECT_EQ (segment.currentImage, &segment.offImage);

    pointer.release ({ 10, 70 });
    EXPECT_TRUE (segment.toggle.getToggleState());
    EXPECT_EQ (segment.currentImage, &segment.onImage);

    pointer.click ({ 150, 5 });
    EXPECT_FALSE (segment.toggle.getToggleState());
}

//==============================================================================
TEST (BypassSegment, DrawsTheButtonAndOverlayByState)
{
    BypassSegment segment;
    auto& button = segment.toggle;

    segment.setSize (120, 65);
    EXPECT_LT (meanDifference (render (segment), expected (120, 65, { { &button.normalImage, { 0, 0, 120, 65 } } })), samePicture);
    pressState (button, juce::Button::buttonOver);
    EXPECT_LT (meanDifference (render (segment), expected (120, 65, { { &button.normalImage, { 0, 0, 120, 65 } } })), samePicture);
    pressState (button, juce::Button::buttonDown);
    const auto pressed = render (segment);
    EXPECT_LT (meanDifference (pressed, expected (120, 65, { { &button.pressedImage, { 0, 0, 120, 65 } } })), samePicture);
    EXPECT_GT (meanDifference (pressed, expected (120, 65, { { &button.normalImage, { 0, 0, 120, 65 } } })), 1.0);

    // On, the editor spans the segment over the window: the button stays at its own
    // place, dimmed by the overlay above it.
    pressState (button, juce::Button::buttonNormal);
    button.setToggleState (true, juce::dontSendNotification);
    segment.setSize (900, 567);
    const auto bypassed = render (segment);
    EXPECT_LT (meanDifference (bypassed, expected (900, 567, { { &button.normalImage, bypassHome }, { &button.overlayImage, window } })),
               samePicture);
    EXPECT_GT (meanDifference (bypassed, expected (900, 567, { { &button.overlayImage, window } }), bypassHome), differentPicture);

    pressState (button, juce::Button::buttonDown);
    const auto held = render (segment);
    EXPECT_LT (meanDifference (held, expected (900, 567, { { &button.normalImage, bypassHome } })), samePicture);
}

TEST (BypassSegment, ImagesHaveTheirSizes)
{
    BypassToggleBtn button;
    EXPECT_EQ (button.overlayImage.getBounds(), juce::Rectangle<int> (1800, 1134));
    EXPECT_EQ (button.normalImage.getBounds(), juce::Rectangle<int> (240, 130));
    EXPECT_EQ (button.pressedImage.getBounds(), juce::Rectangle<int> (240, 130));
}

namespace
{
/** A bypassed segment as the editor lays it out: spanning the window, toggle on. */
struct BypassedWindow
{
    BypassedWindow()
    {
        segment.setSize (900, 567);
        segment.toggle.setToggleState (true, juce::dontSendNotification);
        render (segment); // lays out the toggle
    }

    bool overlayShown() { return ImageComparison::render (segment).getPixelAt (450, 300).getAlpha() > 0; }

    BypassSegment segment;
};
}

TEST (BypassSegment, PressHidesTheOverlayAndReleaseInsideEndsTheBypass)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    BypassedWindow w;
    WindowPointer pointer (w.segment);
    EXPECT_TRUE (w.overlayShown());

    pointer.move ({ 450, 300 });
    pointer.press ({ 450, 300 });
    EXPECT_TRUE (w.segment.toggle.getToggleState());
    EXPECT_FALSE (w.overlayShown());

    pointer.drag ({ 20, 540 });
    pointer.release ({ 20, 540 });
    EXPECT_FALSE (w.segment.toggle.getToggleState());
}

TEST (BypassSegment, ReleaseOutsideTheWindowKeepsTheBypass)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    BypassedWindow w;
    WindowPointer pointer (w.segment);

    pointer.move ({ 450, 300 });
    pointer.press ({ 450, 300 });
    pointer.drag ({ 950, 300 });
    pointer.drag ({ 1000, 620 });
    pointer.release ({ 1000, 620 });

    EXPECT_TRUE (w.segment.toggle.getToggleState());
    EXPECT_TRUE (w.overlayShown());
}

//==============================================================================
TEST (InformationSegment, DrawsTheButtonAndPanelByState)
{
    InformationSegment segment;
    auto& button = segment.toggle;

    segment.setSize (184, 46);
    const auto closed = render (segment);
    EXPECT_LT (meanDifference (closed, expected (184, 46, { { &button.normalImage, { 0, 0, 184, 46 } } })), samePicture);
    EXPECT_GT (meanDifference (closed, expected (184, 46, { { &button.hoverImage, { 0, 0, 184, 46 } } })), 1.0);

    button.setToggleState (true, juce::dontSendNotification);
    segment.setSize (900, 567);
    const auto open = render (segment);
    EXPECT_LT (meanDifference (open, expected (900, 567, { { &button.normalImage, infoHome }, { &button.panelImage, aboutPanel } })),
               samePicture);
    // Around the panel the window stays uncovered.
    EXPECT_EQ (open.getPixelAt (100, 100).getAlpha(), 0);
    EXPECT_EQ (open.getPixelAt (660, 300).getAlpha(), 0);

    pressState (button, juce::Button::buttonDown);
    EXPECT_LT (meanDifference (render (segment), expected (900, 567, { { &button.normalImage, infoHome } })), samePicture);
}

TEST (InformationSegment, HotSpotsLieOnThePanelOnlyWhileItIsOpen)
{
    InformationSegment segment;
    segment.setSize (184, 46);
    segment.setVisible (true);
    render (segment);
    EXPECT_TRUE (segment.panelBody.getBounds().isEmpty());
    EXPECT_TRUE (segment.manualLink.getBounds().isEmpty());
    EXPECT_EQ (segment.getComponentAt (90, 20), &segment.toggle);

    segment.toggle.setToggleState (true, juce::dontSendNotification);
    segment.setSize (900, 567);
    render (segment);
    EXPECT_EQ (segment.panelBody.getBounds(), aboutPanel);
    EXPECT_EQ (segment.manualLink.getBounds(), manualLinkArea);

    // The link above the body above the toggle.
    EXPECT_EQ (segment.getComponentAt (manualLinkArea.getCentre()), &segment.manualLink);
    EXPECT_EQ (segment.getComponentAt (aboutPanel.getX() + 5, aboutPanel.getY() + 5), &segment.panelBody);
    EXPECT_EQ (segment.getComponentAt (aboutPanel.getRight() + 1, 300), &segment.toggle);
    EXPECT_EQ (segment.getComponentAt (10, 10), &segment.toggle);
}

namespace
{
/** Puts a stand-in `xdg-open` first on PATH that appends its argument to a file. */
class FakeBrowser
{
public:
    FakeBrowser()
    {
        folder.createDirectory();
        auto script = folder.getChildFile ("xdg-open");
        script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record().getFullPathName() + "'\n",
                               false, false, "\n");
        script.setExecutePermission (true);
        oldPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});
        setenv ("PATH", (folder.getFullPathName() + ":" + oldPath).toRawUTF8(), 1);
    }

    ~FakeBrowser()
    {
        setenv ("PATH", oldPath.toRawUTF8(), 1);
        folder.deleteRecursively();
    }

    /** The addresses opened so far, waiting up to two seconds for the first. */
    juce::StringArray opened() const
    {
        for (int i = 0; i < 100 && ! record().existsAsFile(); ++i)
            juce::Thread::sleep (20);
        juce::StringArray lines;
        lines.addLines (record().loadFileAsString());
        lines.removeEmptyStrings();
        return lines;
    }

    juce::File record() const { return folder.getChildFile ("opened.txt"); }

private:
    juce::File folder = juce::File::createTempFile ("browser");
    juce::String oldPath;
};

/** An information segment as the editor lays it out while the panel is open. */
struct OpenPanel
{
    OpenPanel()
    {
        segment.setSize (900, 567);
        segment.toggle.setToggleState (true, juce::dontSendNotification);
        render (segment);
    }

    InformationSegment segment;
};
}

TEST (InformationSegment, ManualLinkOpensTheManualAndKeepsThePanel)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    FakeBrowser browser;
    OpenPanel w;
    WindowPointer pointer (w.segment);

    pointer.click (manualLinkArea.getCentre());
    EXPECT_TRUE (w.segment.toggle.getToggleState());
    EXPECT_EQ (browser.opened(), juce::StringArray ("https://brackwell.example/tessaline/manual"));
}

TEST (InformationSegment, ClicksOnThePanelKeepItOpenAndClicksBesideCloseIt)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    OpenPanel w;
    WindowPointer pointer (w.segment);

    for (auto p : { aboutPanel.getTopLeft().translated (3, 3), aboutPanel.getCentre(), aboutPanel.getBottomRight().translated (-3, -3) })
    {
        pointer.click (p);
        EXPECT_TRUE (w.segment.toggle.getToggleState()) << p.toString();
    }

    pointer.click ({ aboutPanel.getRight() + 10, 300 });
    EXPECT_FALSE (w.segment.toggle.getToggleState());

    // Opened again (the body was disabled when it closed), the body still keeps the panel open.
    w.segment.toggle.setToggleState (true, juce::dontSendNotification);
    render (w.segment);
    pointer.click (aboutPanel.getCentre());
    EXPECT_TRUE (w.segment.toggle.getToggleState());
}

TEST (InformationSegment, ShowsTheHoverImageOnlyWhileClosed)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    InformationSegment segment;
    segment.setSize (184, 46);
    WindowPointer pointer (segment);
    const auto hover = expected (184, 46, { { &segment.toggle.hoverImage, { 0, 0, 184, 46 } } });

    pointer.move ({ 90, 20 });
    EXPECT_LT (meanDifference (render (segment), hover), samePicture);

    // Held down, still the hover image.
    pointer.press ({ 90, 20 });
    EXPECT_LT (meanDifference (render (segment), hover), samePicture);
    pointer.release ({ 90, 20 });
    EXPECT_TRUE (segment.toggle.getToggleState());

    // Open, with the pointer over the button's own place: the panel, never the hover image.
    segment.setSize (900, 567);
    pointer.move (infoHome.getCentre());
    EXPECT_LT (meanDifference (render (segment),
                               expected (900, 567, { { &segment.toggle.normalImage, infoHome }, { &segment.toggle.panelImage, aboutPanel } })),
               samePicture);
}
