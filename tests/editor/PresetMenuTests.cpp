#include "DisplayTurn.h"
#include "editor/EditorImages.h"
#include "editor/PresetCustomComponent.h"
#include "editor/PresetPopupMenuLaF.h"
#include "editor/PresetSegment.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace
{
    /** What the stand-in editor saw; kept outside it so that it can be read after the editor is gone. */
    struct Signals
    {
        int childrenChangedCalls = 0;
        std::vector<int> appliedPresets;
    };

    /** Plays the editor's side of the preset signal: acts only while the flag is set, then clears it. */
    class StandInEditor : public juce::Component
    {
    public:
        explicit StandInEditor (Signals& s) : signals (s)
        {
            setSize (900, 567);
            addAndMakeVisible (presetSegment);
            presetSegment.setBounds (63, 25, 150, 65);
        }

        // The segment leaves while it is still whole: left to its own destructor, it
        // would call childrenChanged() below half destroyed.
        ~StandInEditor() override
        {
            removeChildComponent (&presetSegment);
        }

        void childrenChanged() override
        {
            ++signals.childrenChangedCalls;

            if (! presetSegment.presetChosen)
                return;

            presetSegment.presetChosen = false;
            signals.appliedPresets.push_back (presetSegment.selectedPreset);
        }

        Signals& signals;
        PresetSegment presetSegment { this };
    };

    /**
        Tests that move the X pointer take turns across processes: the test runner starts
        them in parallel on one display, where they would move each other's pointer.
    */
    void deliverPendingMessages()
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (30);
    }

    /** The component that the open menu lives in: the editor's topmost child while a menu is open. */
    juce::Component* menuParentOf (StandInEditor& editor)
    {
        auto* topmost = editor.getChildComponent (editor.getNumChildComponents() - 1);
        return topmost == &editor.presetSegment ? nullptr : topmost;
    }

    /** Opens the menu with the pointer on the button, as a click there would; returns the menu's parent. */
    juce::Component* openMenuFromTheButton (StandInEditor& editor)
    {
        juce::Desktop::setMousePosition (editor.localPointToGlobal (juce::Point<int> (138, 50)));
        editor.presetSegment.showPresetMenu();
        return menuParentOf (editor);
    }

    void collectRows (juce::Component& root, std::vector<PresetCustomComponent*>& rows)
    {
        for (auto* child : root.getChildren())
        {
            if (auto* row = dynamic_cast<PresetCustomComponent*> (child))
                rows.push_back (row);
            else
                collectRows (*child, rows);
        }
    }

    /** The rows of the open menu, caps included, in menu order. */
    std::vector<PresetCustomComponent*> openMenuRows (StandInEditor& editor)
    {
        std::vector<PresetCustomComponent*> rows;

        if (auto* parent = menuParentOf (editor))
            collectRows (*parent, rows);

        return rows;
    }

    /** The menu item that wraps a row: it holds the highlight and triggers the choice. */
    juce::PopupMenu::CustomComponent& itemOf (PresetCustomComponent& row)
    {
        auto* item = dynamic_cast<juce::PopupMenu::CustomComponent*> (row.getParentComponent());
        EXPECT_NE (item, nullptr);
        return *item;
    }

    std::vector<juce::String> highlightedTexts (StandInEditor& editor)
    {
        std::vector<juce::String> texts;

        for (auto* row : openMenuRows (editor))
            if (itemOf (*row).isItemHighlighted())
                texts.push_back (row->text);

        return texts;
    }

    /** Opens the real menu and clicks the preset with this id as the menu would, then lets the choice arrive. */
    void choose (StandInEditor& editor, int presetId)
    {
        editor.presetSegment.showPresetMenu();
        auto rows = openMenuRows (editor);
        ASSERT_EQ (rows.size(), 7u);
        itemOf (*rows[(size_t) presetId]).triggerMenuItem();
        deliverPendingMessages();
    }

    void dismissMenu()
    {
        juce::PopupMenu::dismissAllActiveMenus();
        deliverPendingMessages();
    }

    /** The mean colour of a 2 × 2 block of the artwork, which a half-size drawing turns into one pixel. */
    juce::Colour artworkAtHalfSize (const juce::Image& artwork, int x, int y)
    {
        int r = 0, g = 0, b = 0;

        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
            {
                auto c = artwork.getPixelAt (2 * x + dx, 2 * y + dy);
                r += c.getRed();
                g += c.getGreen();
                b += c.getBlue();
            }

        return juce::Colour ((juce::uint8) (r / 4), (juce::uint8) (g / 4), (juce::uint8) (b / 4));
    }

    void expectColourNear (juce::Colour actual, juce::Colour expected, int tolerance)
    {
        EXPECT_EQ (actual.getAlpha(), expected.getAlpha());
        EXPECT_NEAR (actual.getRed(), expected.getRed(), tolerance) << actual.toDisplayString (true).toStdString();
        EXPECT_NEAR (actual.getGreen(), expected.getGreen(), tolerance) << actual.toDisplayString (true).toStdString();
        EXPECT_NEAR (actual.getBlue(), expected.getBlue(), tolerance) << actual.toDisplayString (true).toStdString();
    }

    /** A menu item of our own to hold a row outside a menu, with a highlight we set. */
    class TestItem : public juce::PopupMenu::CustomComponent
    {
    public:
        explicit TestItem (PresetCustomComponent& row)
        {
            setSize (PresetCustomComponent::width, PresetCustomComponent::rowHeight);
            addAndMakeVisible (row);
            row.setBounds (getLocalBounds());
        }

        void getIdealSize (int& w, int& h) override { w = getWidth(); h = getHeight(); }
    };

    juce::Image paintRow (PresetCustomComponent& row, bool highlighted)
    {
        TestItem item (row);
        item.setHighlighted (highlighted);
        return row.createComponentSnapshot (row.getLocalBounds());
    }

    /** Whether any pixel of the area is close to the grey of the row text. */
    bool hasTextPixels (const juce::Image& image, juce::Rectangle<int> area)
    {
        const juce::Colour textGrey (0xff868c94);

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                auto c = image.getPixelAt (x, y);

                if (std::abs (c.getRed() - textGrey.getRed()) < 12 && std::abs (c.getBlue() - textGrey.getBlue()) < 12)
                    return true;
            }

        return false;
    }

    const juce::Colour rowColour (239, 243, 249);
    const juce::Point<int> rowSamplePoint (150, 15); // right of the text, on the row artwork
}

//==============================================================================
TEST (PresetMenuChoice, EachChoiceStoresItsIdAndSignalsTheEditorOnce)
{
    for (int id = 1; id <= 5; ++id)
    {
        Signals signals;
        StandInEditor editor (signals);

        choose (editor, id);

        EXPECT_EQ (editor.presetSegment.selectedPreset, id);
        // Only the call made with the flag set is a signal; the menu parent's arrival is a change the editor ignores.
        EXPECT_EQ (signals.appliedPresets, std::vector<int> { id });
        EXPECT_FALSE (editor.presetSegment.presetChosen);
        EXPECT_EQ (menuParentOf (editor), nullptr);
    }
}

TEST (PresetMenuChoice, TheCallbackAloneSetsTheFlagRightBeforeItCallsTheEditor)
{
    Signals signals;
    StandInEditor editor (signals);
    const auto callsBefore = signals.childrenChangedCalls;

    PresetSegment::menuClosedCallback (&editor.presetSegment) (4);

    EXPECT_EQ (editor.presetSegment.selectedPreset, 4);
    EXPECT_EQ (signals.appliedPresets, std::vector<int> { 4 });
    EXPECT_EQ (signals.childrenChangedCalls - callsBefore, 1);
}

TEST (PresetMenuChoice, ChoosingTheHighlightedPresetAppliesItAgain)
{
    Signals signals;
    StandInEditor editor (signals);

    choose (editor, 3);
    choose (editor, 3);

    EXPECT_EQ (signals.appliedPresets, (std::vector<int> { 3, 3 }));
}

TEST (PresetMenuChoice, DismissingTheMenuForgetsTheChoiceAndTellsTheEditorNothing)
{
    Signals signals;
    StandInEditor editor (signals);
    choose (editor, 2);

    editor.presetSegment.showPresetMenu();
    dismissMenu();

    EXPECT_EQ (editor.presetSegment.selectedPreset, 0);
    EXPECT_FALSE (editor.presetSegment.presetChosen);
    EXPECT_EQ (signals.appliedPresets, std::vector<int> { 2 });
    EXPECT_EQ (menuParentOf (editor), nullptr);
}

TEST (PresetMenuChoice, TheButtonOpensTheMenu)
{
    Signals signals;
    StandInEditor editor (signals);

    editor.presetSegment.presetButton.onClick();

    EXPECT_EQ (openMenuRows (editor).size(), 7u);
    dismissMenu();
}

TEST (PresetMenuChoice, ASecondClickWhileTheMenuIsOpenOpensNoSecondMenu)
{
    Signals signals;
    StandInEditor editor (signals);

    editor.presetSegment.showPresetMenu();
    editor.presetSegment.showPresetMenu();

    EXPECT_EQ (editor.getNumChildComponents(), 2);
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 1);
    dismissMenu();
    EXPECT_EQ (editor.getNumChildComponents(), 1);
}

//==============================================================================
TEST (PresetMenuLayout, RowsAreTheFivePresetsBetweenTwoCaps)
{
    Signals signals;
    StandInEditor editor (signals);
    editor.presetSegment.showPresetMenu();

    auto rows = openMenuRows (editor);
    ASSERT_EQ (rows.size(), 7u);

    const std::vector<juce::String> texts { "", "Default", "Best Bright", "Best Dark", "Brighter", "Darker", "" };
    const std::vector<int> heights { 6, 30, 30, 30, 30, 30, 6 };

    for (size_t i = 0; i < rows.size(); ++i)
    {
        EXPECT_EQ (rows[i]->text, texts[i]);
        EXPECT_EQ (rows[i]->getHeight(), heights[i]);
    }

    dismissMenu();
}

TEST (PresetMenuLayout, TheMenuStaysInsideItsParentOverTheEditor)
{
    DisplayTurn turn;
    Signals signals;
    StandInEditor editor (signals);
    auto* parent = openMenuFromTheButton (editor);
    ASSERT_NE (parent, nullptr);
    EXPECT_EQ (parent->getBounds(), juce::Rectangle<int> (77, 80, 220, 250));
    EXPECT_TRUE (parent->isVisible());

    ASSERT_EQ (parent->getNumChildComponents(), 1);
    auto window = parent->getChildComponent (0)->getBounds();
    EXPECT_TRUE (parent->getLocalBounds().contains (window)) << window.toString();
    EXPECT_EQ (window.getHeight(), 6 + 5 * 30 + 6);
    // Opened from the button above the parent's area, the menu is wide enough for the row artwork.
    EXPECT_GE (window.getWidth(), 171);
    // Beside the artwork the window shows through, with or without a compositing desktop.
    EXPECT_FALSE (parent->getChildComponent (0)->isOpaque());

    for (auto* row : openMenuRows (editor))
        EXPECT_EQ (row->getWidth(), window.getWidth());

    dismissMenu();
}

TEST (PresetMenuLayout, APressAnywhereOnARowReachesItsMenuItem)
{
    // The menu acts on a click only when the press reaches its own item component;
    // a row or wrapper that took it would lose every quick click.
    DisplayTurn turn;
    Signals signals;
    StandInEditor editor (signals);
    auto* parent = openMenuFromTheButton (editor);
    ASSERT_NE (parent, nullptr);

    for (auto* row : openMenuRows (editor))
    {
        for (int x : { 2, 80, row->getWidth() - 2 })
        {
            auto* hit = parent->getComponentAt (parent->getLocalPoint (row, juce::Point<int> (x, row->getHeight() / 2)));
            ASSERT_NE (hit, nullptr);
            EXPECT_TRUE (hit->isParentOf (row)) << row->text << " at " << x;
            EXPECT_NE (hit, row->getParentComponent()) << row->text << " at " << x;
        }
    }

    dismissMenu();
}

TEST (PresetMenuLayout, ThePreviousChoiceIsHighlightedAtTheNextOpening)
{
    Signals signals;
    StandInEditor editor (signals);

    editor.presetSegment.showPresetMenu();
    EXPECT_TRUE (highlightedTexts (editor).empty());
    dismissMenu();

    choose (editor, 3);
    editor.presetSegment.showPresetMenu();
    EXPECT_EQ (highlightedTexts (editor), std::vector<juce::String> { "Best Dark" });
    dismissMenu();

    editor.presetSegment.showPresetMenu();
    EXPECT_TRUE (highlightedTexts (editor).empty());
    dismissMenu();
}

//==============================================================================
TEST (PresetMenuLifetime, ClosingTheWindowWithTheMenuOpenClosesTheMenu)
{
    Signals signals;
    auto editor = std::make_unique<StandInEditor> (signals);
    editor->presetSegment.showPresetMenu();

    auto* parent = menuParentOf (*editor);
    ASSERT_NE (parent, nullptr);
    juce::Component::SafePointer<juce::Component> menuWindow (parent->getChildComponent (0));

    editor.reset();
    deliverPendingMessages();

    EXPECT_EQ (menuWindow.getComponent(), nullptr);
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
    EXPECT_TRUE (signals.appliedPresets.empty());
}

TEST (PresetMenuLifetime, AChoiceArrivingAfterTheWindowClosedDoesNothing)
{
    Signals signals;
    auto editor = std::make_unique<StandInEditor> (signals);
    editor->presetSegment.showPresetMenu();
    auto rows = openMenuRows (*editor);
    ASSERT_EQ (rows.size(), 7u);

    // The click is made, but its delivery waits for the message loop, which runs only after the window is gone.
    itemOf (*rows[3]).triggerMenuItem();
    editor.reset();
    deliverPendingMessages();

    EXPECT_TRUE (signals.appliedPresets.empty());
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
}

TEST (PresetMenuLifetime, TheCallbackOfAGoneSegmentDoesNothing)
{
    Signals signals;
    auto editor = std::make_unique<StandInEditor> (signals);
    auto callback = PresetSegment::menuClosedCallback (&editor->presetSegment);

    editor.reset();
    callback (3);

    EXPECT_TRUE (signals.appliedPresets.empty());
}

TEST (PresetMenuLifetime, RowArtworkOutlivesTheFirstOfTwoWindows)
{
    Signals firstSignals, secondSignals;
    auto first = std::make_unique<StandInEditor> (firstSignals);
    auto second = std::make_unique<StandInEditor> (secondSignals);

    first.reset();
    second->presetSegment.showPresetMenu();
    auto rows = openMenuRows (*second);
    ASSERT_EQ (rows.size(), 7u);

    auto painted = rows[1]->createComponentSnapshot (rows[1]->getLocalBounds());
    expectColourNear (painted.getPixelAt (rowSamplePoint.x, rowSamplePoint.y), rowColour, 2);
    dismissMenu();

    second.reset();
    EXPECT_FALSE (PresetCustomComponent::img_item.isValid());
    EXPECT_FALSE (PresetCustomComponent::img_item_hi.isValid());
}

//==============================================================================
TEST (PresetMenuPainting, ARowShowsItsArtworkForItsHighlightAndItsName)
{
    Signals signals;
    StandInEditor editor (signals); // holds the row artwork
    PresetCustomComponent row ("Best Bright", PresetCustomComponent::presetRow);
    auto highlightedArtwork = EditorImages::load (BinaryData::temp_binary_data_48, BinaryData::temp_binary_data_48Size);

    auto normal = paintRow (row, false);
    auto highlighted = paintRow (row, true);

    expectColourNear (normal.getPixelAt (rowSamplePoint.x, rowSamplePoint.y), rowColour, 2);
    expectColourNear (highlighted.getPixelAt (rowSamplePoint.x, rowSamplePoint.y),
                      artworkAtHalfSize (highlightedArtwork, rowSamplePoint.x, rowSamplePoint.y), 3);
    EXPECT_NE (normal.getPixelAt (rowSamplePoint.x, rowSamplePoint.y), highlighted.getPixelAt (rowSamplePoint.x, rowSamplePoint.y));

    // The strip right of the artwork belongs to the row's mouse area but shows nothing.
    EXPECT_EQ (normal.getPixelAt (185, 15).getAlpha(), 0);
    EXPECT_TRUE (hasTextPixels (normal, { 12, 6, 100, 18 }));
    EXPECT_FALSE (hasTextPixels (normal, { 120, 0, 80, 30 }));
}

TEST (PresetMenuPainting, ARowOutsideAMenuItemLooksPlain)
{
    Signals signals;
    StandInEditor editor (signals);
    PresetCustomComponent row ("Default", PresetCustomComponent::presetRow);
    row.setSize (200, 30);

    auto painted = row.createComponentSnapshot (row.getLocalBounds());

    expectColourNear (painted.getPixelAt (rowSamplePoint.x, rowSamplePoint.y), rowColour, 2);
}

TEST (PresetMenuPainting, CapsDrawNothing)
{
    Signals signals;
    StandInEditor editor (signals);
    PresetCustomComponent cap ({}, PresetCustomComponent::topCap);
    cap.setSize (200, 6);

    auto painted = cap.createComponentSnapshot (cap.getLocalBounds());

    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_EQ (painted.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;
}

TEST (PresetMenuPainting, WithoutArtworkARowStillShowsItsName)
{
    PresetCustomComponent row ("Darker", PresetCustomComponent::presetRow);
    ASSERT_FALSE (PresetCustomComponent::img_item.isValid());

    auto painted = paintRow (row, true);

    EXPECT_EQ (painted.getPixelAt (rowSamplePoint.x, rowSamplePoint.y).getAlpha(), 0);
    EXPECT_TRUE (hasTextPixels (painted, { 12, 6, 100, 18 }));
}

TEST (PresetMenuPainting, ThePanelCoversOnlyTheArtworkAreaWhateverTheMenuSize)
{
    PresetPopupMenuLaF lookAndFeel;
    juce::Image image (juce::Image::ARGB, 220, 200, true);
    {
        juce::Graphics g (image);
        lookAndFeel.drawPopupMenuBackground (g, 220, 200);
    }

    expectColourNear (image.getPixelAt (90, 80), rowColour, 2);
    EXPECT_EQ (image.getPixelAt (190, 80).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (90, 180).getAlpha(), 0);
    EXPECT_EQ (lookAndFeel.getPopupMenuBorderSize(), 0);
}

TEST (PresetMenuPainting, TheButtonFillsTheSegmentAndLooksPressedOnlyWhileHeldDown)
{
    Signals signals;
    StandInEditor editor (signals);
    auto& button = editor.presetSegment.presetButton;
    juce::Image segmentImage (juce::Image::ARGB, 150, 65, true);
    juce::Graphics g (segmentImage);
    editor.presetSegment.paint (g);
    ASSERT_EQ (button.getBounds(), juce::Rectangle<int> (0, 0, 150, 65));

    auto normalArtwork = EditorImages::load (BinaryData::temp_binary_data_61, BinaryData::temp_binary_data_61Size);
    auto pressedArtwork = EditorImages::load (BinaryData::temp_binary_data_62, BinaryData::temp_binary_data_62Size);
    const juce::Point<int> sample (20, 15); // where the pressed face is clearly darker

    const std::pair<juce::Button::ButtonState, juce::Image*> looks[] {
        { juce::Button::buttonNormal, &normalArtwork },
        { juce::Button::buttonOver, &normalArtwork },
        { juce::Button::buttonDown, &pressedArtwork },
    };

    for (auto [state, artwork] : looks)
    {
        button.setState (state);
        auto painted = button.createComponentSnapshot (button.getLocalBounds());
        expectColourNear (painted.getPixelAt (sample.x, sample.y), artworkAtHalfSize (*artwork, sample.x, sample.y), 3);
    }
}

//==============================================================================
namespace
{
    /**
        Moves the real pointer to a point of the editor and clicks there quickly, as a
        tap would. The pause before the tap gives the menu, which watches the pointer
        from a timer, time to highlight the row under it even in a slow (sanitizer) build.
        The button is held for 30 ms, a quick tap: a press and release sent in one go
        sometimes reach the window as if the button had never gone down.
    */
    bool clickAt (juce::Component& editor, juce::Point<int> local)
    {
        auto screen = editor.localPointToGlobal (local);
        juce::ChildProcess xdotool;

        if (! xdotool.start (juce::StringArray { "xdotool", "mousemove", "--sync", juce::String (screen.x), juce::String (screen.y),
                                                 "sleep", "0.3", "mousedown", "1", "sleep", "0.03", "mouseup", "1" }))
            return false;

        // The menu watches the pointer from the message loop, so it has to run while the button is held.
        for (int waited = 0; xdotool.isRunning() && waited < 5000; waited += 10)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

        juce::MessageManager::getInstance()->runDispatchLoopUntil (400);
        return xdotool.getExitCode() == 0;
    }

    /** Runs the message loop until the condition holds or the time is up. */
    template <typename Condition>
    bool dispatchUntil (Condition condition, int milliseconds)
    {
        for (int waited = 0; ! condition() && waited < milliseconds; waited += 10)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

        return condition();
    }
}

/** The stand-in editor in a window of its own, clicked through the X server. */
class PresetMenuOnScreen : public testing::Test
{
protected:
    void SetUp() override
    {
        // Only the button and the menu's area, in the display's lower right corner:
        // away from where other tests open their windows, on a display of any size.
        const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
        if (display == nullptr)
            GTEST_SKIP() << "needs a display";
        const auto corner = display->userArea.getBottomRight() - juce::Point<int> (40, 40);
        editor.setBounds (corner.x - 320, corner.y - 340, 320, 340);
        editor.addToDesktop (0);
        editor.setVisible (true);
        editor.toFront (true);

        // On a loaded machine the server may map the window, and hand it the focus
        // that the menu needs to stay open, well after it was asked to; a click that
        // lands before then reaches the desktop instead.
        dispatchUntil ([] { return juce::Process::isForegroundProcess(); }, 3000);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (300);

        for (int attempt = 0; attempt < 3 && openMenuRows (editor).empty(); ++attempt)
            if (! clickAt (editor, { 138, 50 }))
                GTEST_SKIP() << "xdotool is needed to click";

        ASSERT_EQ (openMenuRows (editor).size(), 7u) << "the button did not open the menu";
    }

    void clickRow (int index, int x)
    {
        auto rows = openMenuRows (editor);
        ASSERT_EQ (rows.size(), 7u) << "the menu closed before the click";
        auto* row = rows[(size_t) index];
        EXPECT_TRUE (clickAt (editor, editor.getLocalPoint (row, juce::Point<int> (x, row->getHeight() / 2))));
    }

    DisplayTurn turn;
    Signals signals;
    StandInEditor editor { signals };
};

TEST_F (PresetMenuOnScreen, AClickOnAPresetAppliesIt)
{
    clickRow (3, 80);

    EXPECT_EQ (signals.appliedPresets, std::vector<int> { 3 });
    EXPECT_EQ (editor.presetSegment.selectedPreset, 3);
    EXPECT_EQ (menuParentOf (editor), nullptr);
}

TEST_F (PresetMenuOnScreen, AClickRightOfTheArtworkStillChoosesTheRow)
{
    auto rowWidth = openMenuRows (editor)[5]->getWidth();
    ASSERT_GT (rowWidth, 176);

    clickRow (5, rowWidth - 4);

    EXPECT_EQ (signals.appliedPresets, std::vector<int> { 5 });
}

TEST_F (PresetMenuOnScreen, ACapKeepsTheMenuOpenAndAClickOutsideClosesItWithoutAChoice)
{
    clickRow (0, 80);
    clickRow (6, 80);
    EXPECT_EQ (openMenuRows (editor).size(), 7u);

    clickAt (editor, { 300, 20 });

    EXPECT_EQ (menuParentOf (editor), nullptr);
    EXPECT_EQ (editor.presetSegment.selectedPreset, 0);
    EXPECT_TRUE (signals.appliedPresets.empty());
}
