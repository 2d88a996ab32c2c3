// The window opened and closed while a host's audio thread processes and another
// thread automates every parameter, in a real window with its OpenGL context: no
// crash, no hang, and (in the thread sanitizer's build) no race.

#include "editor/PluginEditor.h"

#include "tests/editor/DisplayTurn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace
{
/** Processes blocks of a quiet sine on a thread of its own, as a host's audio thread does. */
class AudioThread
{
public:
    explicit AudioThread (MorvelAudioProcessor& p) : processor (p)
    {
        processor.prepareToPlay (48000.0, 256);
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread()
    {
        running = false;
        thread.join();
        processor.releaseResources();
    }

    int blocks() const { return blockCount.load(); }

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (processor.getTotalNumOutputChannels(), 256);
        juce::MidiBuffer midi;
        double phase = 0.0;
        while (running)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.0575)
                for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                    buffer.setSample (ch, i, 0.3f * (float) std::sin (phase));
            const juce::ScopedLock lock (processor.getCallbackLock());
            processor.processBlock (buffer, midi);
            ++blockCount;
        }
    }

    MorvelAudioProcessor& processor;
    std::atomic<bool> running { true };
    std::atomic<int> blockCount { 0 };
    std::thread thread;
};

/** Moves every parameter at random from a thread of its own, as host automation does. */
class AutomationThread
{
public:
    explicit AutomationThread (MorvelAudioProcessor& p) : processor (p), thread ([this] { run(); }) {}

    ~AutomationThread()
    {
        running = false;
        thread.join();
    }

private:
    void run()
    {
        juce::Random random (42);
        auto& parameters = processor.getParameters();
        while (running)
        {
            parameters[random.nextInt (parameters.size())]->setValueNotifyingHost (random.nextFloat());
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
    }

    MorvelAudioProcessor& processor;
    std::atomic<bool> running { true };
    std::thread thread;
};
} // namespace

TEST (WindowThreads, OpensAndClosesInAWindowWhileAudioRunsAndParametersMove)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "needs an X display";

    MorvelAudioProcessor processor;
    const DisplayTurn turn; // its windows would cover other tests' windows
    AudioThread audio (processor);
    for (int i = 0; i < 20; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        editor->setTopLeftPosition (50 + 10 * i, 50);
        editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
        editor->setVisible (true);
        {
            AutomationThread automation (processor);
            juce::MessageManager::getInstance()->runDispatchLoopUntil (150);
        }
        EXPECT_TRUE (dynamic_cast<MorvelAudioProcessorEditor&> (*editor).openGLContext.isAttached());
        processor.editorBeingDeleted (editor.get());
        editor.reset();
    }
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
    EXPECT_GT (audio.blocks(), 20);
}
