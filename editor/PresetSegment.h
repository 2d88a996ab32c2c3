#pragma once

#include "editor/PresetImageBtn.h"
#include "editor/PresetPopupMenuLaF.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

/**
    The PRESETS panel: its button opens a menu of the five built-in presets over the
    editor. A choice is stored in selectedPreset and signalled to the editor by
    setting presetChosen and calling the editor's childrenChanged; the editor then
    applies the preset and clears the flag. The last choice lives only as long as
    the segment. Message thread.

    The menu runs asynchronously, so the host may close the window while it is open:
    the segment then closes its menu, and a choice that is still on its way is
    dropped.
*/
class PresetSegment : public juce::Component
{
public:
    /** The editor is not owned; it must outlive the segment (it owns it). */
    explicit PresetSegment (juce::Component* editor);
    ~PresetSegment() override;

    /** Fills the segment with the button; the segment draws nothing itself. */
    void paint (juce::Graphics& g) override;

    /**
        Opens the preset menu inside the menu parent over the editor, near the mouse,
        with the last choice highlighted, and returns at once. Does nothing while the
        segment's menu is still open. Needs a display.
    */
    void showPresetMenu();

    /** The area of the editor, in its coordinates, that the open menu stays inside. */
    static juce::Rectangle<int> menuParentBounds() { return { 77, 80, 220, 250 }; }

    /**
        What the menu calls when it closes, with the chosen preset id or 0: it stores
        the id, signals a choice to the editor and clears away the menu. Once the
        segment is gone it does nothing.
    */
    static std::function<void (int)> menuClosedCallback (juce::Component::SafePointer<PresetSegment> segment);

    /** The id (1 to 5) chosen at the last opening of the menu, 0 for none. */
    int selectedPreset = 0;

    PresetImageBtn presetButton;

private:
    PresetPopupMenuLaF menuLookAndFeel;
    juce::Component* parentEditor = nullptr;

public:
    /** Set right before the editor is told of a choice; the editor clears it. */
    bool presetChosen = false;

private:
    struct OpenMenu;

    void menuClosed (int chosenId);
    void closeMenuLeavingNoTrace();
    void letWindowShowBesideTheRows();

    // The rows and the menu parent of the open menu; empty while no menu is open.
    std::unique_ptr<OpenMenu> openMenu;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetSegment)
};
