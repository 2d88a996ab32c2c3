#include "editor/PluginEditor.h"

#include "editor/EditorImages.h"

#include <BinaryData.h>

using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;

MorvelAudioProcessorEditor::MorvelAudioProcessorEditor (MorvelAudioProcessor& p, juce::AudioProcessorValueTreeState& parameters)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      valueTreeState (parameters),
      ioSegment (&p),
      presetSegment (this),
      triangleSegment (&knob1Slider, &knob2Slider),
      background (EditorImages::load (BinaryData::temp_binary_data_64, BinaryData::temp_binary_data_64Size))
{
    addAndMakeVisible (ioSegment);
    bindGainControls();

    addKnobSlider (knob1Slider, knob1Attachment, "Knob1");
    addKnobSlider (knob2Slider, knob2Attachment, "Knob2");

    bindSwitches();

    lastInputGain = ioSegment.inputSlider.getValue();
    lastOutputGain = ioSegment.outputSlider.getValue();

    triangleSegment.setSize (512, 445);
    triangleSegment.setupGeometry();

    // The order is the z-order: the information segment lies above every segment but
    // the bypass segment, so the BYPASS button stays usable over the about panel and
    // the bypass overlay covers everything.
    for (auto* segment : std::initializer_list<juce::Component*> { &triangleSegment, &autoGainSegment, &mixSegment, &presetSegment,
                                                                   &informationSegment, &bypassSegment })
        addAndMakeVisible (segment);

    setSize (windowWidth, windowHeight);
    triangleSegment.setHandleFromKnobs();
    setResizable (false, false);
    openGLContext.attachTo (*this);
}

MorvelAudioProcessorEditor::~MorvelAudioProcessorEditor()
{
    // Rendering stops before anything goes. The children leave now, while every
    // segment still exists: each departure calls childrenChanged, which reads the
    // preset segment, and members destroyed later would otherwise call it after
    // that segment is gone.
    openGLContext.detach();
    ioSegment.inputSlider.removeListener (this);
    ioSegment.outputSlider.removeListener (this);
    removeAllChildren();
}

void MorvelAudioProcessorEditor::bindGainControls()
{
    bind (linkAttachment, "Link", ioSegment.linkButton);
    bind (inputGainAttachment, "Input Gain", ioSegment.inputSlider);
    bind (outputGainAttachment, "Output Gain", ioSegment.outputSlider);

    // Registered after the attachments have set both sliders, so the link does not
    // take the first synchronisation for a move.
    ioSegment.inputSlider.addListener (this);
    ioSegment.outputSlider.addListener (this);
}

void MorvelAudioProcessorEditor::addKnobSlider (juce::Slider& slider, std::unique_ptr<SliderAttachment>& attachment,
                                                const juce::String& parameterID)
{
    // Never shown and never placed: the pad and the presets write it, its attachment
    // carries the value (snapped to the parameter's step) to the parameter.
    addAndMakeVisible (slider);
    slider.setVisible (false);
    bind (attachment, parameterID, slider);
}

void MorvelAudioProcessorEditor::bindSwitches()
{
    bind (mixAttachment, "Mix", mixSegment.mixSlider);
    bind (autoGainAttachment, "AutoGain", autoGainSegment.toggle);
    bind (bypassAttachment, "Bypass", bypassSegment.toggle);
}

// An attachment shows its parameter's value at once only when it is made on the
// message thread; elsewhere the value follows in a message. A Linux VST3 host makes
// the editor before it lends the plug-in its run loop, so on a thread that is not
// the plug-in's message thread: without these the handle would be placed from
// unset sliders, and the link would take the late first values for moves and shift
// the partner gain. The attachment's own update then finds nothing to change.
void MorvelAudioProcessorEditor::showParameterNow (juce::Slider& slider, const juce::String& parameterID)
{
    auto* parameter = valueTreeState.getParameter (parameterID);
    slider.setValue (parameter->convertFrom0to1 (parameter->getValue()), juce::dontSendNotification);
}

void MorvelAudioProcessorEditor::showParameterNow (juce::Button& button, const juce::String& parameterID)
{
    // Notified so that a segment drawing the state follows; the attachment writes the
    // parameter only if the value differs from it, and it does not.
    button.setToggleState (valueTreeState.getParameter (parameterID)->getValue() >= 0.5f, juce::sendNotificationSync);
}

void MorvelAudioProcessorEditor::childrenChanged()
{
    if (! presetSegment.presetChosen)
        return;
    presetSegment.presetChosen = false;

    const int index = presetSegment.selectedPreset - 1;
    if (index >= 0 && index < 5)
    {
        knob1Slider.setValue (knob1Table[index], juce::sendNotificationAsync);
        knob2Slider.setValue (knob2Table[index], juce::sendNotificationAsync);
    }
    triangleSegment.setHandleFromKnobs();
}

void MorvelAudioProcessorEditor::paint (juce::Graphics& g)
{
    EditorImages::drawFitted (g, background, getLocalBounds());
    layOutChildren();
}

void MorvelAudioProcessorEditor::layOutChildren()
{
    ioSegment.setBounds (50, 100, 220, 410);
    triangleSegment.setBounds (193, 49, 512, 445);
    autoGainSegment.setBounds (687, 379, 159, 81);
    mixSegment.setBounds (672, 151, 195, 195);
    presetSegment.setBounds (63, 25, 150, 65);
    bypassSegment.setBounds (bypassSegment.toggle.getToggleState() ? getLocalBounds() : juce::Rectangle<int> (713, 25, 120, 65));
    informationSegment.setBounds (informationSegment.toggle.getToggleState() ? getLocalBounds()
                                                                              : juce::Rectangle<int> (687, 518, 184, 46));
}

void MorvelAudioProcessorEditor::resized() {}

void MorvelAudioProcessorEditor::sliderValueChanged (juce::Slider* slider)
{
    auto& input = ioSegment.inputSlider;
    auto& output = ioSegment.outputSlider;

    // The partner takes its value at once and tells its attachment later; by then
    // its change since the recorded value is zero, so nothing echoes back.
    if (ioSegment.linkButton.getToggleState())
    {
        if (slider == &input)
            output.setValue (output.getValue() - (input.getValue() - lastInputGain), juce::sendNotificationAsync);
        if (slider == &output)
            input.setValue (input.getValue() - (output.getValue() - lastOutputGain), juce::sendNotificationAsync);
    }

    lastInputGain = input.getValue();
    lastOutputGain = output.getValue();
}
