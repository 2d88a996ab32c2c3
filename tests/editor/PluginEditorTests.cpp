// The plug-in's window with a real processor: its lifetime, the attachments in both
// directions, the gain link, the presets, the layout in paint and the z-order of
// clicks. Everything here runs without a display except the tests that say so.

#include "editor/PluginEditor.h"
#include "editor/PresetCustomComponent.h"

#include "tests/editor/ImageComparison.h"
#include "tests/editor/WindowPointer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#if defined(__GLIBC__)
 #include <malloc.h>
#endif

namespace
{
constexpr double gainTolerance = 1e-6;  // dB; the gains are on a 0.01 dB step
constexpr double knobTolerance = 1e-6;  // the tone controls are on a 0.05 step
constexpr double handleTolerance = 0.01; // pad pixels

/** Lets asynchronous slider notifications and attachment updates arrive. */
void dispatch (int milliseconds = 30)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

float parameter (MorvelAudioProcessor& p, const char* id)
{
    return p.parameterState.getRawParameterValue (id)->load();
}

/** Sets a parameter in its own units, as host automation does. */
void automate (MorvelAudioProcessor& p, const char* id, float value)
{
    auto* param = p.parameterState.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

/** A user's move of a control: the control tells its listeners at once. */
void move (juce::Slider& s, double value) { s.setValue (value, juce::sendNotificationSync); }
void flip (juce::Button& b, bool on) { b.setToggleState (on, juce::sendNotification); }

struct EditorFixture : public testing::Test
{
    ~EditorFixture() override { close(); }

    void open()
    {
        editor.reset (dynamic_cast<MorvelAudioProcessorEditor*> (processor.createEditorIfNeeded()));
        ASSERT_NE (editor, nullptr);
    }

    /** Closes the window as a host does: the processor learns first. */
    void close()
    {
        if (editor != nullptr)
            processor.editorBeingDeleted (editor.get());
        editor.reset();
    }

    /** One paint of the whole window into an image, as the renderer would. */
    juce::Image paintWindow() { return ImageComparison::render (*editor); }

    MorvelAudioProcessor processor;
    std::unique_ptr<MorvelAudioProcessorEditor> editor;
};

struct OpenEditor : public EditorFixture
{
    void SetUp() override { open(); }

    juce::Slider& input() { return editor->ioSegment.inputSlider; }
    juce::Slider& output() { return editor->ioSegment.outputSlider; }

    void expectGains (double in, double out)
    {
        EXPECT_NEAR (input().getValue(), in, gainTolerance);
        EXPECT_NEAR (output().getValue(), out, gainTolerance);
        dispatch();
        EXPECT_NEAR (parameter (processor, "Input Gain"), in, gainTolerance);
        EXPECT_NEAR (parameter (processor, "Output Gain"), out, gainTolerance);
    }

    void choosePreset (int id)
    {
        editor->presetSegment.selectedPreset = id;
        editor->presetSegment.presetChosen = true;
        editor->childrenChanged();
    }

    void expectHandleAt (double x, double y)
    {
        EXPECT_NEAR (editor->triangleSegment.getHandlePosition().x, x, handleTolerance);
        EXPECT_NEAR (editor->triangleSegment.getHandlePosition().y, y, handleTolerance);
    }

    /** The component that a press at this editor point reaches. */
    juce::Component* under (int x, int y)
    {
        editor->setVisible (true);
        return editor->getComponentAt (x, y);
    }

    bool isWithin (juce::Component* c, juce::Component& ancestor) { return c == &ancestor || ancestor.isParentOf (c); }
};
} // namespace

//==============================================================================
TEST_F (EditorFixture, OpensAndClosesRepeatedlyLeavingNoListenerBehind)
{
#if defined(__GLIBC__)
    // Freed memory is overwritten, so an attachment left listening to a parameter
    // after its editor went would call through garbage and crash below.
    mallopt (M_PERTURB, 0xa5);
#endif
    for (int i = 0; i < 20; ++i)
    {
        open();
        EXPECT_EQ (processor.getActiveEditor(), editor.get());
        paintWindow();
        close();
        EXPECT_EQ (processor.getActiveEditor(), nullptr);
    }

    std::thread automation ([this] {
        for (const char* id : { "Input Gain", "Output Gain", "Knob1", "Knob2", "Link", "AutoGain", "Bypass", "Mix" })
            processor.parameterState.getParameter (id)->setValueNotifyingHost (0.7f);
    });
    automation.join();
    for (const char* id : { "Input Gain", "Output Gain", "Knob1", "Knob2", "Link", "AutoGain", "Bypass", "Mix" })
        processor.parameterState.getParameter (id)->setValueNotifyingHost (0.2f);
    dispatch();
#if defined(__GLIBC__)
    mallopt (M_PERTURB, 0);
#endif
}

TEST (EditorLeaks, LeakDetectorReportsNothingAfterRepeatedOpening)
{
#if ! JUCE_CHECK_MEMORY_LEAKS
    GTEST_SKIP() << "the framework's leak detector is compiled into debug builds only";
#else
    // The detector reports when the program ends, so the loop runs in a program of its own.
    juce::ChildProcess child;
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    ASSERT_TRUE (child.start (juce::StringArray { self, "--gtest_filter=EditorFixture.OpensAndClosesRepeatedlyLeavingNoListenerBehind" }));
    const auto output = child.readAllProcessOutput();
    EXPECT_EQ (child.getExitCode(), 0u) << output;
    EXPECT_FALSE (output.contains ("Leaked objects")) << output;
#endif
}

TEST_F (EditorFixture, IsAFixedSizeWindowThatPlacesItsChildrenOnlyWhenPainted)
{
    open();
    EXPECT_EQ (editor->getBounds(), juce::Rectangle<int> (0, 0, 900, 567));
    EXPECT_FALSE (editor->isResizable());
    EXPECT_EQ (editor->resizableCorner, nullptr);
    EXPECT_EQ (editor->openGLContext.getTargetComponent(), editor.get());

    editor->resized();
    EXPECT_TRUE (editor->ioSegment.getBounds().isEmpty());
    EXPECT_TRUE (editor->mixSegment.getBounds().isEmpty());

    paintWindow();
    EXPECT_EQ (editor->ioSegment.getBounds(), juce::Rectangle<int> (50, 100, 220, 410));
    EXPECT_EQ (editor->triangleSegment.getBounds(), juce::Rectangle<int> (193, 49, 512, 445));
    EXPECT_EQ (editor->autoGainSegment.getBounds(), juce::Rectangle<int> (687, 379, 159, 81));
    EXPECT_EQ (editor->mixSegment.getBounds(), juce::Rectangle<int> (672, 151, 195, 195));
    EXPECT_EQ (editor->presetSegment.getBounds(), juce::Rectangle<int> (63, 25, 150, 65));
    EXPECT_EQ (editor->bypassSegment.getBounds(), juce::Rectangle<int> (713, 25, 120, 65));
    EXPECT_EQ (editor->informationSegment.getBounds(), juce::Rectangle<int> (687, 518, 184, 46));
    EXPECT_FALSE (editor->knob1Slider.isVisible());
    EXPECT_TRUE (editor->knob1Slider.getBounds().isEmpty());
    EXPECT_TRUE (editor->knob2Slider.getBounds().isEmpty());

    const juce::Array<juce::Component*> zOrder { &editor->ioSegment, &editor->knob1Slider, &editor->knob2Slider,
                                                 &editor->triangleSegment, &editor->autoGainSegment, &editor->mixSegment,
                                                 &editor->presetSegment, &editor->informationSegment, &editor->bypassSegment };
    EXPECT_EQ (editor->getChildren(), zOrder);
}

//==============================================================================
TEST_F (EditorFixture, OpensShowingTheStoredParameters)
{
    automate (processor, "Input Gain", 4.5f);
    automate (processor, "Output Gain", -12.25f);
    automate (processor, "Knob1", 0.85f);
    automate (processor, "Knob2", 0.05f);
    automate (processor, "Link", 1.0f);
    automate (processor, "AutoGain", 0.0f);
    automate (processor, "Bypass", 1.0f);
    automate (processor, "Mix", 37.0f);
    open();

    EXPECT_NEAR (editor->ioSegment.inputSlider.getValue(), 4.5, gainTolerance);
    EXPECT_NEAR (editor->ioSegment.outputSlider.getValue(), -12.25, gainTolerance);
    EXPECT_NEAR (editor->knob1Slider.getValue(), 0.85, knobTolerance);
    EXPECT_NEAR (editor->knob2Slider.getValue(), 0.05, knobTolerance);
    EXPECT_TRUE (editor->ioSegment.linkButton.getToggleState());
    EXPECT_FALSE (editor->autoGainSegment.toggle.getToggleState());
    EXPECT_EQ (editor->autoGainSegment.currentImage, &editor->autoGainSegment.offImage);
    EXPECT_TRUE (editor->bypassSegment.toggle.getToggleState());
    EXPECT_NEAR (editor->mixSegment.mixSlider.getValue(), 37.0, 1e-4);
    EXPECT_DOUBLE_EQ (editor->lastInputGain, editor->ioSegment.inputSlider.getValue());
    EXPECT_DOUBLE_EQ (editor->lastOutputGain, editor->ioSegment.outputSlider.getValue());

    // Independent figures for the handle: the pad's geometry at 512 x 445.
    EXPECT_NEAR (editor->triangleSegment.getHandlePosition().x, 418.77, handleTolerance);
    EXPECT_NEAR (editor->triangleSegment.getHandlePosition().y, 403.70, handleTolerance);

    // Bypassed from the first paint.
    paintWindow();
    EXPECT_EQ (editor->bypassSegment.getBounds(), editor->getLocalBounds());

    // Opening must not have written anything back.
    EXPECT_NEAR (parameter (processor, "Input Gain"), 4.5, gainTolerance);
    EXPECT_NEAR (parameter (processor, "Output Gain"), -12.25, gainTolerance);
}

/** Made on a host's thread with "AutoGain" and "Bypass" both off, or both on (the
    default switch and the overlay), where a value arriving late shows the wrong one. */
struct HostThreadEditor : public EditorFixture, public testing::WithParamInterface<bool>
{
};

TEST_P (HostThreadEditor, ShowsTheStoredValuesFromItsFirstPaintWithoutMovingAny)
{
    // A Linux VST3 host makes the editor on its own thread, before the plug-in's
    // message thread is its: the attachments' first values then arrive in messages.
    const bool switchesOn = GetParam();
    automate (processor, "Link", 1.0f);
    automate (processor, "Input Gain", 5.0f);
    automate (processor, "Output Gain", -3.0f);
    automate (processor, "Knob1", 0.85f);
    automate (processor, "Knob2", 0.05f);
    automate (processor, "AutoGain", switchesOn ? 1.0f : 0.0f);
    automate (processor, "Bypass", switchesOn ? 1.0f : 0.0f);

    std::atomic<bool> made { false };
    bool autoGainShownOn = ! switchesOn, bypassCoversTheWindow = ! switchesOn;
    std::thread host ([&] {
        const juce::MessageManagerLock lock;
        editor.reset (new MorvelAudioProcessorEditor (processor, processor.parameterState));
        // The first paint, before any message can bring a value.
        paintWindow();
        autoGainShownOn = editor->autoGainSegment.currentImage == &editor->autoGainSegment.onImage;
        bypassCoversTheWindow = editor->bypassSegment.getBounds() == editor->getLocalBounds();
        made = true;
    });
    while (! made) // the lock needs the message thread's consent
        dispatch (5);
    host.join();
    EXPECT_EQ (autoGainShownOn, switchesOn);
    EXPECT_EQ (bypassCoversTheWindow, switchesOn);
    dispatch();

    EXPECT_NEAR (parameter (processor, "Input Gain"), 5.0, gainTolerance);
    EXPECT_NEAR (parameter (processor, "Output Gain"), -3.0, gainTolerance);
    EXPECT_EQ (parameter (processor, "AutoGain"), switchesOn ? 1.0f : 0.0f);
    EXPECT_EQ (parameter (processor, "Bypass"), switchesOn ? 1.0f : 0.0f);
    EXPECT_NEAR (editor->ioSegment.outputSlider.getValue(), -3.0, gainTolerance);
    EXPECT_NEAR (editor->triangleSegment.getHandlePosition().x, 418.77, handleTolerance);
    EXPECT_NEAR (editor->triangleSegment.getHandlePosition().y, 403.70, handleTolerance);
    EXPECT_EQ (editor->autoGainSegment.toggle.getToggleState(), switchesOn);
    EXPECT_EQ (editor->bypassSegment.toggle.getToggleState(), switchesOn);
    EXPECT_TRUE (editor->ioSegment.linkButton.getToggleState());

    // The link still works.
    move (editor->ioSegment.inputSlider, 6.0);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Output Gain"), -4.0, gainTolerance);
}

INSTANTIATE_TEST_SUITE_P (Switches, HostThreadEditor, testing::Bool(),
                          [] (const testing::TestParamInfo<bool>& info) { return info.param ? "On" : "Off"; });

TEST_F (OpenEditor, DefaultsPlaceTheHandleWhereTheDefaultPresetDoes)
{
    EXPECT_TRUE (editor->autoGainSegment.toggle.getToggleState());
    EXPECT_EQ (editor->autoGainSegment.currentImage, &editor->autoGainSegment.onImage);
    expectHandleAt (266.85, 290.93);
    choosePreset (1);
    expectHandleAt (266.85, 290.93);
}

TEST_F (OpenEditor, AutomationMovesEveryControl)
{
    automate (processor, "Input Gain", -7.5f);
    automate (processor, "Output Gain", 19.0f);
    automate (processor, "Knob1", 0.6f);
    automate (processor, "Knob2", 0.15f);
    automate (processor, "AutoGain", 0.0f);
    automate (processor, "Bypass", 1.0f);
    automate (processor, "Mix", 62.0f);
    automate (processor, "Link", 1.0f);

    EXPECT_NEAR (input().getValue(), -7.5, gainTolerance);
    EXPECT_NEAR (output().getValue(), 19.0, gainTolerance);
    EXPECT_NEAR (editor->knob1Slider.getValue(), 0.6, knobTolerance);
    EXPECT_NEAR (editor->knob2Slider.getValue(), 0.15, knobTolerance);
    EXPECT_EQ (editor->autoGainSegment.currentImage, &editor->autoGainSegment.offImage);
    EXPECT_TRUE (editor->bypassSegment.toggle.getToggleState());
    EXPECT_NEAR (editor->mixSegment.mixSlider.getValue(), 62.0, 1e-4);
    EXPECT_TRUE (editor->ioSegment.linkButton.getToggleState());

    // Tone automation changes the sound, not the handle.
    expectHandleAt (266.85, 290.93);

    // From a host thread the controls follow once the message thread has run.
    std::thread host ([this] {
        automate (processor, "Mix", 12.0f);
        automate (processor, "AutoGain", 1.0f);
        automate (processor, "Bypass", 0.0f);
    });
    host.join();
    dispatch();
    EXPECT_NEAR (editor->mixSegment.mixSlider.getValue(), 12.0, 1e-4);
    EXPECT_EQ (editor->autoGainSegment.currentImage, &editor->autoGainSegment.onImage);
    EXPECT_FALSE (editor->bypassSegment.toggle.getToggleState());
}

TEST_F (OpenEditor, ControlsMoveTheParameters)
{
    move (input(), 6.25);
    move (editor->mixSegment.mixSlider, 25.0);
    flip (editor->autoGainSegment.toggle, false);
    flip (editor->bypassSegment.toggle, true);
    flip (editor->ioSegment.linkButton, true);
    dispatch();

    EXPECT_NEAR (parameter (processor, "Input Gain"), 6.25, gainTolerance);
    EXPECT_NEAR (parameter (processor, "Mix"), 25.0, 1e-4);
    EXPECT_EQ (parameter (processor, "AutoGain"), 0.0f);
    EXPECT_EQ (parameter (processor, "Bypass"), 1.0f);
    EXPECT_EQ (parameter (processor, "Link"), 1.0f);

    // The hidden knob sliders carry the pad's values, snapped to the 0.05 step.
    editor->knob1Slider.setValue (0.3331, juce::sendNotificationAsync);
    editor->knob2Slider.setValue (0.8739, juce::sendNotificationAsync);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.35, knobTolerance);
    EXPECT_NEAR (parameter (processor, "Knob2"), 0.85, knobTolerance);
}

//==============================================================================
TEST_F (OpenEditor, LinkMovesTheOtherGainTheOtherWay)
{
    automate (processor, "Link", 1.0f);

    move (input(), 3.0);
    EXPECT_NEAR (output().getValue(), -3.0, gainTolerance); // at once
    expectGains (3.0, -3.0);                                 // and no echo once the partner's notice arrives

    move (output(), -1.5);
    expectGains (1.5, -1.5);
}

TEST_F (OpenEditor, LinkedPartnerStopsAtItsLimitAndLosesTheRest)
{
    automate (processor, "Output Gain", -15.0f);
    automate (processor, "Link", 1.0f);
    expectGains (0.0, -15.0);

    move (input(), 10.0);
    expectGains (10.0, -20.0);
    move (input(), 0.0);
    expectGains (0.0, -10.0);
}

TEST_F (OpenEditor, SwitchingTheLinkOnKeepsTheDifference)
{
    move (input(), 4.0);
    move (output(), -6.0);
    expectGains (4.0, -6.0);

    flip (editor->ioSegment.linkButton, true);
    expectGains (4.0, -6.0);

    move (input(), 5.0);
    expectGains (5.0, -7.0);
}

TEST_F (OpenEditor, AutomationOfOneGainMovesTheOtherOnlyWhileTheWindowIsOpen)
{
    automate (processor, "Link", 1.0f);
    automate (processor, "Output Gain", 2.0f);
    expectGains (-2.0, 2.0);

    // From a host thread as well.
    std::thread host ([this] { automate (processor, "Input Gain", 1.0f); });
    host.join();
    dispatch();
    expectGains (1.0, -1.0);

    close();
    automate (processor, "Output Gain", 5.0f);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Input Gain"), 1.0, gainTolerance);
}

//==============================================================================
TEST_F (OpenEditor, PresetsSetTheToneControlsAndMoveTheHandle)
{
    struct Expected { double knob1, knob2, x, y; };
    const Expected presets[] = { { 0.35, 0.35, 266.85, 290.93 }, { 0.25, 0.5, 256.0, 234.55 }, { 0.5, 0.25, 310.26, 328.52 },
                                 { 0.05, 0.85, 245.15, 102.98 }, { 0.85, 0.05, 418.77, 403.70 } };

    for (int id = 5; id >= 1; --id)
    {
        const auto& e = presets[id - 1];
        choosePreset (id);
        EXPECT_FALSE (editor->presetSegment.presetChosen);
        EXPECT_NEAR (editor->knob1Slider.getValue(), e.knob1, knobTolerance) << id;
        EXPECT_NEAR (editor->knob2Slider.getValue(), e.knob2, knobTolerance) << id;
        expectHandleAt (e.x, e.y);
        dispatch();
        EXPECT_NEAR (parameter (processor, "Knob1"), e.knob1, knobTolerance) << id;
        EXPECT_NEAR (parameter (processor, "Knob2"), e.knob2, knobTolerance) << id;
    }

    // The same preset again re-applies it over a moved tone.
    automate (processor, "Knob1", 0.1f);
    choosePreset (1);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.35, knobTolerance);
}

TEST_F (OpenEditor, ChildrenChangedWithoutAChoiceChangesNothing)
{
    automate (processor, "Knob1", 0.6f);
    automate (processor, "Knob2", 0.1f);

    editor->presetSegment.selectedPreset = 3;
    editor->childrenChanged();
    juce::Component menuParent; // the framework's own calls, as the open menu makes them
    editor->addAndMakeVisible (menuParent);
    editor->removeChildComponent (&menuParent);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.6, knobTolerance);
    EXPECT_NEAR (parameter (processor, "Knob2"), 0.1, knobTolerance);
    expectHandleAt (266.85, 290.93);

    // An id outside the table sets no value; the handle is placed from the knobs as they are.
    choosePreset (9);
    dispatch();
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.6, knobTolerance);
    EXPECT_NEAR (parameter (processor, "Knob2"), 0.1, knobTolerance);
    EXPECT_FALSE (editor->presetSegment.presetChosen);
    expectHandleAt (321.11, 384.91);
}

//==============================================================================
TEST_F (OpenEditor, BypassCoversTheWindowFromTheNextPaintAndReturns)
{
    paintWindow();
    automate (processor, "Bypass", 1.0f);
    EXPECT_EQ (editor->bypassSegment.getBounds(), juce::Rectangle<int> (713, 25, 120, 65)); // not until painted
    paintWindow();
    EXPECT_EQ (editor->bypassSegment.getBounds(), editor->getLocalBounds());
    for (auto p : { juce::Point<int> (5, 5), juce::Point<int> (450, 300), juce::Point<int> (120, 300), juce::Point<int> (890, 560) })
        EXPECT_EQ (under (p.x, p.y), &editor->bypassSegment.toggle) << p.toString();

    automate (processor, "Bypass", 0.0f);
    paintWindow();
    EXPECT_EQ (editor->bypassSegment.getBounds(), juce::Rectangle<int> (713, 25, 120, 65));
}

TEST_F (OpenEditor, InformationCoversTheWindowBelowTheBypassButton)
{
    flip (editor->informationSegment.toggle, true);
    paintWindow();
    auto& info = editor->informationSegment;
    EXPECT_EQ (info.getBounds(), editor->getLocalBounds());
    EXPECT_EQ (under (20, 20), &info.toggle);
    EXPECT_EQ (under (450, 300), &info.panelBody);
    EXPECT_EQ (under (454, 350), &info.manualLink);
    EXPECT_EQ (under (773, 57), &editor->bypassSegment.toggle);

    // Bypass over the open panel, then back: the panel is still open.
    automate (processor, "Bypass", 1.0f);
    paintWindow();
    EXPECT_EQ (under (454, 350), &editor->bypassSegment.toggle);
    automate (processor, "Bypass", 0.0f);
    paintWindow();
    EXPECT_TRUE (info.toggle.getToggleState());
    EXPECT_EQ (under (454, 350), &info.manualLink);
}

TEST_F (OpenEditor, PadTakesPressesWhereItOverlapsTheFaders)
{
    paintWindow();
    auto& pad = editor->triangleSegment;

    // The strip x 193 to 269 where the pad lies over the gain segment, including the
    // right end of the output fader and of the output readout's click area.
    for (int x : { 193, 200, 212, 240, 269 })
        for (int y : { 105, 130, 300, 490 })
            EXPECT_EQ (under (x, y), &pad) << x << ", " << y;
    EXPECT_TRUE (isWithin (under (192, 300), editor->ioSegment));
    EXPECT_TRUE (isWithin (under (180, 300), output()));

    // Segments added after the pad lie above it.
    EXPECT_TRUE (isWithin (under (200, 60), editor->presetSegment));
    EXPECT_TRUE (isWithin (under (680, 200), editor->mixSegment));
    EXPECT_TRUE (isWithin (under (690, 400), editor->autoGainSegment));
}

TEST_F (OpenEditor, APressInTheStripMovesNoFader)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    WindowPointer pointer (*editor);
    const auto handle = editor->triangleSegment.getHandlePosition();

    // Over the output fader's right edge, outside the rounded triangle: the pad takes
    // the press and does nothing with it.
    pointer.move ({ 205, 300 });
    pointer.press ({ 205, 300 });
    pointer.drag ({ 205, 150 });
    pointer.release ({ 205, 150 });
    expectGains (0.0, 0.0);
    EXPECT_EQ (editor->triangleSegment.getHandlePosition(), handle);

    // Inside the pad the same press moves the handle.
    pointer.click ({ 193 + 256, 49 + 297 });
    EXPECT_EQ (editor->triangleSegment.getHandlePosition(), juce::Point<float> (256.0f, 297.0f));
}

TEST_F (OpenEditor, AClickAnywhereOnTheBypassedWindowEndsTheBypass)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    WindowPointer pointer (*editor);
    pointer.click ({ 773, 57 });
    EXPECT_EQ (parameter (processor, "Bypass"), 1.0f);
    WindowPointer::settle (100);
    EXPECT_EQ (editor->bypassSegment.getBounds(), editor->getLocalBounds());

    pointer.click ({ 100, 500 });
    EXPECT_EQ (parameter (processor, "Bypass"), 0.0f);
    WindowPointer::settle (100);
    EXPECT_EQ (editor->bypassSegment.getBounds(), juce::Rectangle<int> (713, 25, 120, 65));
}

namespace
{
/** The open preset menu's row with this text, wherever the menu put it. */
juce::Component* presetRow (juce::Component& root, const juce::String& text)
{
    for (auto* child : root.getChildren())
    {
        if (auto* row = dynamic_cast<PresetCustomComponent*> (child); row != nullptr && row->text == text)
            return row;
        if (auto* found = presetRow (*child, text))
            return found;
    }
    return nullptr;
}
} // namespace

TEST_F (OpenEditor, APresetChosenFromTheMenuReachesTheToneControlsAndTheHandle)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    WindowPointer pointer (*editor);
    pointer.click ({ 138, 57 });
    auto* row = presetRow (*editor, "Best Dark");
    ASSERT_NE (row, nullptr) << "the menu did not open";

    // The menu follows the pointer on a timer of its own and takes no release in its
    // first moments: a person's pace, not a program's.
    const auto onRow = editor->getLocalArea (row, row->getLocalBounds()).getCentre();
    WindowPointer::settle (400);
    pointer.move (onRow);
    WindowPointer::settle (200);
    pointer.press (onRow);
    WindowPointer::settle (150);
    pointer.release (onRow);
    WindowPointer::settle (200);

    EXPECT_NEAR (parameter (processor, "Knob1"), 0.5, knobTolerance);
    EXPECT_NEAR (parameter (processor, "Knob2"), 0.25, knobTolerance);
    expectHandleAt (310.26, 328.52);

    // Opened again and dismissed beside it: nothing changes.
    pointer.click ({ 138, 57 });
    ASSERT_NE (presetRow (*editor, "Best Dark"), nullptr);
    pointer.click ({ 880, 560 });
    WindowPointer::settle (100);
    EXPECT_EQ (presetRow (*editor, "Best Dark"), nullptr);
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.5, knobTolerance);
    EXPECT_NEAR (parameter (processor, "Knob2"), 0.25, knobTolerance);
    expectHandleAt (310.26, 328.52);
}

TEST_F (OpenEditor, ClosesSafelyWhileThePresetMenuIsOpen)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    {
        WindowPointer pointer (*editor);
        pointer.click ({ 138, 57 });
        ASSERT_NE (presetRow (*editor, "Best Dark"), nullptr);
    }
    close();
    WindowPointer::settle (200);

    open();
    EXPECT_EQ (presetRow (*editor, "Best Dark"), nullptr);
    EXPECT_NEAR (parameter (processor, "Knob1"), 0.35, knobTolerance);
}

TEST_F (OpenEditor, RendersThroughOpenGLInAWindow)
{
    if (! WindowPointer::displayAvailable())
        GTEST_SKIP() << "needs an X display";

    WindowPointer pointer (*editor);
    juce::String renderer;
    for (int i = 0; i < 100 && renderer.isEmpty(); ++i)
    {
        WindowPointer::settle (50);
        if (editor->openGLContext.isAttached())
            editor->openGLContext.executeOnGLThread ([&] (juce::OpenGLContext&)
                                                    { renderer = (const char*) juce::gl::glGetString (juce::gl::GL_RENDERER); },
                                                    true);
    }
    EXPECT_TRUE (renderer.isNotEmpty()) << "no OpenGL context became active";
    RecordProperty ("renderer", renderer.toStdString());
    EXPECT_EQ (editor->getPeer()->getBounds().getWidth(), 900);
    EXPECT_EQ (editor->getPeer()->getBounds().getHeight(), 567);
}
