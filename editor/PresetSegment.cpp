#include "editor/PresetSegment.h"

#include "editor/PresetCustomComponent.h"

#include <array>

namespace
{
    constexpr int topCapId = 998;
    constexpr int bottomCapId = 999;

    // In menu order; a preset's id is its position here plus one.
    const std::array<const char*, 5> presetNames { "Default", "Best Bright", "Best Dark", "Brighter", "Darker" };

    void addRow (juce::PopupMenu& menu, int itemId, PresetCustomComponent& row, int height, bool closesMenu)
    {
        // The row's name is also what a screen reader announces for the item.
        menu.addCustomItem (itemId, row, PresetCustomComponent::width, height, closesMenu, nullptr, row.text);

        // The menu learns of a press and a release only when they reach its own item
        // component; the row and the wrapper around it would swallow them, and the menu's
        // pointer polling alone misses a quick click or a tap.
        row.setInterceptsMouseClicks (false, false);

        if (auto* wrapper = row.getParentComponent())
            wrapper->setInterceptsMouseClicks (false, false);
    }
}

/** What one opening of the menu needs to outlive the call that shows it. */
struct PresetSegment::OpenMenu
{
    OpenMenu()
    {
        for (auto* name : presetNames)
            rows.add (new PresetCustomComponent (name, PresetCustomComponent::presetRow));
    }

    PresetCustomComponent topCap { {}, PresetCustomComponent::topCap };
    juce::OwnedArray<PresetCustomComponent> rows;
    PresetCustomComponent bottomCap { {}, PresetCustomComponent::bottomCap };

    // Declared last so that it is destroyed first: that ends the menu window's modal
    // state and takes it off the editor while the rows still exist.
    juce::Component menuParent;
};

PresetSegment::PresetSegment (juce::Component* editor)
{
    PresetCustomComponent::holdRowImages();
    parentEditor = editor;
    addAndMakeVisible (presetButton);

    // The panel image is the menu's only background.
    menuLookAndFeel.setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0x00ffffff));

    presetButton.onClick = [this] { showPresetMenu(); };
}

PresetSegment::~PresetSegment()
{
    closeMenuLeavingNoTrace();
    PresetCustomComponent::releaseRowImages();
}

void PresetSegment::paint (juce::Graphics&)
{
    presetButton.setBounds (getLocalBounds());
}

void PresetSegment::showPresetMenu()
{
    // The menu is modal, so a second click can only come before the first menu's
    // close has been delivered; that delivery still clears the first menu away.
    if (openMenu != nullptr)
        return;

    openMenu = std::make_unique<OpenMenu>();

    juce::PopupMenu menu;
    menu.setLookAndFeel (&menuLookAndFeel);

    using Row = PresetCustomComponent;
    addRow (menu, topCapId, openMenu->topCap, Row::capHeight, false);

    for (int i = 0; i < openMenu->rows.size(); ++i)
        addRow (menu, i + 1, *openMenu->rows[i], Row::rowHeight, true);

    addRow (menu, bottomCapId, openMenu->bottomCap, Row::capHeight, false);

    if (parentEditor != nullptr)
    {
        parentEditor->addAndMakeVisible (openMenu->menuParent);
        openMenu->menuParent.setBounds (menuParentBounds());
    }

    // The default target is the mouse position; the parent keeps the menu inside its area.
    auto options = juce::PopupMenu::Options().withMinimumWidth (Row::width).withStandardItemHeight (Row::rowHeight);

    if (selectedPreset != 0)
        options = options.withInitiallySelectedItem (selectedPreset);

    options = options.withMaximumNumColumns (1).withParentComponent (&openMenu->menuParent);

    menu.showMenuAsync (options, menuClosedCallback (this));
    letWindowShowBesideTheRows();
}

void PresetSegment::letWindowShowBesideTheRows()
{
    // The framework makes a menu opaque wherever the desktop cannot blend separate
    // windows (X without a compositor), and an opaque menu that paints only its
    // artwork leaves the strip right of the rows unpainted. Inside its parent the
    // menu is an ordinary child drawn over the window, so it never needs to be.
    if (openMenu != nullptr)
        for (auto* menuWindow : openMenu->menuParent.getChildren())
            menuWindow->setOpaque (false);
}

std::function<void (int)> PresetSegment::menuClosedCallback (juce::Component::SafePointer<PresetSegment> segment)
{
    return [segment] (int chosenId)
    {
        if (auto* s = segment.getComponent())
            s->menuClosed (chosenId);
    };
}

void PresetSegment::menuClosed (int chosenId)
{
    // A dismissed menu forgets the previous choice, so the next opening highlights nothing.
    selectedPreset = chosenId;

    if (chosenId != 0 && parentEditor != nullptr)
    {
        presetChosen = true;
        parentEditor->childrenChanged();
    }

    // The menu has closed: its parent leaves the editor, then the rows go.
    openMenu.reset();
}

void PresetSegment::closeMenuLeavingNoTrace()
{
    if (openMenu == nullptr)
        return;

    // The menu window is owned by the framework and is deleted only after its close
    // has been delivered; until then it must not point at this segment's look.
    for (auto* menuWindow : openMenu->menuParent.getChildren())
        menuWindow->setLookAndFeel (nullptr);

    // Deleting the parent of the modal menu window ends its modal state (with no
    // choice); the close that the framework then delivers finds no segment.
    openMenu.reset();
}
