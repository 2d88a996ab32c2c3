#pragma once

#include "editor/AutoGainSegment.h"
#include "editor/BypassSegment.h"
#include "editor/IOSegment.h"
#include "editor/InformationSegment.h"
#include "editor/MixSegment.h"
#include "editor/PresetSegment.h"
#include "editor/TriangleSegment.h"
#include "processor/PluginProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_opengl/juce_opengl.h>

#include <memory>

/**
    Tessaline's window: a fixed 900 x 567 panel rendered through OpenGL. It owns every
    segment, binds the controls to the eight parameters through attachments, links
    the two gains while "Link" is on, and applies the built-in presets to the tone
    pad's two hidden sliders.

    Children are laid out in paint, not in resized, so that the bypass and information
    segments cover the whole window from the paint after their toggle turned on.

    [message thread] Everything but paint, which the GL thread runs while it holds
    the message thread's lock.
*/
class MorvelAudioProcessorEditor : public juce::AudioProcessorEditor,
                                   public juce::Slider::Listener
{
public:
    static constexpr int windowWidth = 900;
    static constexpr int windowHeight = 567;

    MorvelAudioProcessorEditor (MorvelAudioProcessor& processor, juce::AudioProcessorValueTreeState& parameters);
    ~MorvelAudioProcessorEditor() override;

    /**
        Applies the preset that the preset segment chose, and only then: the framework's
        own calls (children added or removed) find the segment's flag cleared.
    */
    void childrenChanged() override;

    /** Draws the background and places every child. */
    void paint (juce::Graphics&) override;

    /** Places nothing: the layout lives in paint. */
    void resized() override;

    /** The gain link: moves the other gain by the opposite of this one's change. */
    void sliderValueChanged (juce::Slider*) override;

    /** The built-in presets' tone controls, by preset id minus one. */
    static constexpr double knob1Table[5] = { (double) 0.35f, 0.25, 0.5, (double) 0.05f, (double) 0.85f };
    static constexpr double knob2Table[5] = { (double) 0.35f, 0.5, 0.25, (double) 0.85f, (double) 0.05f };

    // Members are public so that the tests can reach each control as a user would.
    // Their order is their destruction order, reversed: each attachment goes before
    // its control, and the OpenGL context goes before any component.
    MorvelAudioProcessor& audioProcessor;
    juce::AudioProcessorValueTreeState& valueTreeState;

    IOSegment ioSegment;
    AutoGainSegment autoGainSegment;
    MixSegment mixSegment;
    PresetSegment presetSegment;
    BypassSegment bypassSegment;
    InformationSegment informationSegment;

    juce::Slider knob1Slider;
    juce::Slider knob2Slider;
    TriangleSegment triangleSegment;

    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> inputGainAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> outputGainAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> knob1Attachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> knob2Attachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> linkAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> autoGainAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ButtonAttachment> bypassAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> mixAttachment;

    /** The gains (dB) at the last slider callback: the link moves the partner by the change since then. */
    double lastInputGain = 0.0;
    double lastOutputGain = 0.0;

    juce::OpenGLContext openGLContext;
    juce::Image background;

private:
    void bindGainControls();
    void addKnobSlider (juce::Slider& slider, std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment>& attachment,
                        const juce::String& parameterID);
    void bindSwitches();
    void showParameterNow (juce::Slider&, const juce::String& parameterID);
    void showParameterNow (juce::Button&, const juce::String& parameterID);

    /** Binds the control to the parameter and shows the stored value in it at once. */
    template <typename Attachment, typename Control>
    void bind (std::unique_ptr<Attachment>& attachment, const juce::String& parameterID, Control& control)
    {
        attachment = std::make_unique<Attachment> (valueTreeState, parameterID, control);
        showParameterNow (control, parameterID);
    }
    void layOutChildren();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvelAudioProcessorEditor)
};
