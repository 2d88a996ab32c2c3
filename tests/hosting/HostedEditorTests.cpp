// The plug-in's own window as a host opens it: the built VST3 and LV2 loaded through
// the framework's hosting code, their editors shown in a window on the X display
// (the run is under Xvfb), the window's pixels read back from the display.

#include "../editor/DisplayTurn.h"
#include "../editor/ImageComparison.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>

namespace
{
enum class Format { vst3, lv2 };

constexpr int width = 900, height = 567;
const juce::Point<int> windowTopLeft { 120, 80 };

// The same limits as the Standalone's screenshot test, against the same reference.
constexpr int tileSize = 16;
constexpr double tileTolerance = 4.5;
constexpr double pictureTolerance = 0.75;

/**
    A bare X server knows none of the window-manager atoms that the framework sets,
    and Xlib's default handler ends the program over the error that follows. The
    library is the one the framework opened; its handler is process-wide.
*/
void tolerateXErrors()
{
    if (auto* x11 = dlopen ("libX11.so.6", RTLD_LAZY))
    {
        using Handler = int (*) (void*, void*);
        if (auto* set = reinterpret_cast<Handler (*) (Handler)> (dlsym (x11, "XSetErrorHandler")))
            set ([] (void*, void*) { return 0; });
    }
}

juce::String run (const juce::StringArray& command)
{
    juce::ChildProcess p;
    return p.start (command) ? p.readAllProcessOutput() : juce::String();
}

bool toolsPresent()
{
    return run ({ "sh", "-c", "command -v import && command -v xwininfo" }).containsIgnoreCase ("xwininfo");
}

/** The source tree, as the build that made this program records it. */
juce::File sourceDir()
{
    auto dir = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    for (; dir != dir.getParentDirectory(); dir = dir.getParentDirectory())
        if (auto cache = dir.getChildFile ("CMakeCache.txt"); cache.existsAsFile())
        {
            juce::StringArray lines;
            cache.readLines (lines);
            for (const auto& line : lines)
                if (line.startsWith ("Tessaline_SOURCE_DIR:"))
                    return juce::File (line.fromFirstOccurrenceOf ("=", false, false));
        }
    return {};
}

/** Absolute areas of the X windows that are exactly the editor's size. */
juce::Array<juce::Rectangle<int>> windowsOfTheEditorsSize()
{
    juce::Array<juce::Rectangle<int>> found;
    juce::StringArray lines;
    lines.addLines (run ({ "xwininfo", "-root", "-tree" }));
    const auto size = juce::String (width) + "x" + juce::String (height) + "+";
    for (const auto& line : lines)
        if (line.contains (size))
        {
            // "... 900x567+0+0  +120+80": the last field is the absolute position.
            auto absolute = juce::StringArray::fromTokens (line.trim(), " ", "").strings.getLast().substring (1);
            const auto x = absolute.upToFirstOccurrenceOf ("+", false, false).getIntValue();
            const auto y = absolute.fromFirstOccurrenceOf ("+", false, false).getIntValue();
            found.add ({ x, y, width, height });
        }
    return found;
}

juce::Image grabScreen (juce::Rectangle<int> area)
{
    const juce::TemporaryFile shot (".png");
    run ({ "import", "-window", "root", "-crop",
           juce::String (area.getWidth()) + "x" + juce::String (area.getHeight()) + "+" + juce::String (area.getX()) + "+" + juce::String (area.getY()),
           "+repage", shot.getFile().getFullPathName() });
    return juce::ImageFileFormat::loadFrom (shot.getFile()).convertedToFormat (juce::Image::RGB);
}

void waitFor (std::function<bool()> condition, int milliseconds)
{
    for (int waited = 0; waited < milliseconds && ! condition(); waited += 100)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
}

/** The build tree's plug-in in one format (the program runs in a home of its own, so no installed copy is found instead). */
class HostedEditor : public testing::TestWithParam<Format>
{
protected:
    void SetUp() override
    {
        if (std::getenv ("DISPLAY") == nullptr || ! toolsPresent())
            GTEST_SKIP() << "needs an X display, imagemagick and x11-utils";
        tolerateXErrors();

        juce::OwnedArray<juce::PluginDescription> descriptions;
        if (GetParam() == Format::vst3)
        {
            format = std::make_unique<juce::VST3PluginFormat>();
            format->findAllTypesForFile (descriptions, juce::File (TESSALINE_VST3_BUNDLE).getFullPathName());
        }
        else
        {
            format = std::make_unique<juce::LV2PluginFormat>();
            format->searchPathsForPlugins (juce::FileSearchPath (juce::File (TESSALINE_LV2_FOLDER).getFullPathName()), true, false);
            format->findAllTypesForFile (descriptions, TESSALINE_LV2_URI);
        }
        ASSERT_FALSE (descriptions.isEmpty()) << "the build tree's plug-in was not found";

        juce::String error;
        instance = format->createInstanceFromDescription (*descriptions[0], 48000.0, 512, error);
        ASSERT_NE (instance, nullptr) << error;
        instance->prepareToPlay (48000.0, 512);
    }

    void TearDown() override
    {
        if (editor != nullptr)
        {
            editor->removeFromDesktop();
            editor.reset();
        }
        turn.reset();
        instance.reset();
        format.reset();
    }

    /** Opens the editor in a window of its own, as a host does, and waits until the plug-in's window is on the display. */
    void show()
    {
        turn = std::make_unique<DisplayTurn>();
        editor.reset (instance->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        editor->setTopLeftPosition (windowTopLeft);
        editor->addToDesktop (0);
        editor->setVisible (true);
        waitFor ([] { return windowsOfTheEditorsSize().size() >= 2; }, 10000);
    }

    std::unique_ptr<juce::AudioPluginFormat> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::unique_ptr<DisplayTurn> turn;
};

std::string formatName (const testing::TestParamInfo<Format>& info)
{
    return info.param == Format::vst3 ? "VST3" : "LV2";
}
} // namespace

TEST_P (HostedEditor, OpensAtItsFixedSizeWithAnOpenGLWindow)
{
    show();
    EXPECT_EQ (editor->getWidth(), width);
    EXPECT_EQ (editor->getHeight(), height);

    // The host's window, the plug-in's own window and inside it the window that the
    // OpenGL context renders into, all of the editor's size at the same place.
    const auto windows = windowsOfTheEditorsSize();
    EXPECT_GE (windows.size(), 3);
    for (const auto& w : windows)
        EXPECT_EQ (w, juce::Rectangle<int> (windowTopLeft.x, windowTopLeft.y, width, height));
}

TEST_P (HostedEditor, ShowsTheWindowsFace)
{
    if (GetParam() == Format::lv2)
        GTEST_SKIP() << "through the framework's LV2 hosting a plug-in window opened again in one process now and "
                        "then stays unpainted for many seconds, with or without OpenGL; not a check that can pass reliably";
    show();

    const auto reference = juce::ImageFileFormat::loadFrom (sourceDir().getChildFile ("tests/editor/reference/default.png"))
                               .convertedToFormat (juce::Image::RGB);
    ASSERT_TRUE (reference.isValid());

    // The first frames take a moment under a software renderer: read the display
    // until the picture settles on the reference or five seconds have passed.
    juce::Image shown;
    for (int attempt = 0; attempt < 20; ++attempt)
    {
        shown = grabScreen ({ windowTopLeft.x, windowTopLeft.y, width, height });
        if (shown.getBounds() == reference.getBounds()
            && ImageComparison::worstTile (shown, reference, tileSize).difference <= tileTolerance)
            break;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (250);
    }
    ASSERT_EQ (shown.getBounds(), reference.getBounds());
    EXPECT_LE (ImageComparison::meanDifference (shown, reference), pictureTolerance);
    EXPECT_LE (ImageComparison::worstTile (shown, reference, tileSize).difference, tileTolerance);
}

TEST_P (HostedEditor, CannotBeResized)
{
    show();
    EXPECT_FALSE (editor->isResizable());

    // A VST3 host that tries anyway asks the view, which refuses: the plug-in's
    // window and its OpenGL window keep their size. (An LV2 host reads the refusal
    // from the bundle's metadata and resizes nothing.)
    if (GetParam() == Format::vst3)
    {
        editor->setSize (1100, 700);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1000);
        EXPECT_GE (windowsOfTheEditorsSize().size(), 2);
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedEditor, testing::Values (Format::vst3, Format::lv2), formatName);
