// The window as a person sees it: the Standalone application on an X display,
// driven by real pointer clicks (scripts/take-screenshot.sh, xdotool), its face read
// back from the display and compared with the reference pictures in reference/.
//
// A reference is remade, after a deliberate change of the look, with
//     scripts/take-screenshot.sh -s <state> tests/editor/reference/<state>.png
// and looked at before it is committed.

#include "tests/editor/DisplayTurn.h"
#include "tests/editor/ImageComparison.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

namespace
{
// Tolerance: the display is read through OpenGL (Mesa's software renderer), whose
// rounding and text rendering may shift a little between versions; that moves
// edges by a pixel and colours by a few steps. A missing control or a misplaced
// overlay changes whole tiles by tens of steps. Both limits are in 0..255 colour
// steps, averaged over the four channels (alpha is opaque in both pictures, so
// 4.5 is an average of 6 steps over red, green and blue).
constexpr int tileSize = 16;
constexpr double tileTolerance = 4.5;
constexpr double pictureTolerance = 0.75;

const juce::File sourceDir { TESSALINE_SOURCE_DIR };

/** The Standalone program of this build: the test program lives in <build>/tests/editor. */
juce::File findStandalone()
{
    const auto build = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory().getParentDirectory().getParentDirectory();
    for (const auto& f : build.getChildFile ("processor").findChildFiles (juce::File::findFiles, true, "Tessaline"))
        if (f.getParentDirectory().getFileName() == "Standalone" && f.hasFileExtension (""))
            return f;
    return {};
}

bool toolsPresent()
{
    for (auto tool : { "xdotool", "import", "xwininfo" })
    {
        juce::ChildProcess which;
        if (! which.start (juce::StringArray { "sh", "-c", juce::String ("command -v ") + tool }) || which.readAllProcessOutput().isEmpty())
            return false;
    }
    return true;
}

juce::Image load (const juce::File& f)
{
    return juce::ImageFileFormat::loadFrom (f).convertedToFormat (juce::Image::RGB);
}

class WindowScreenshot : public testing::TestWithParam<const char*>
{
};
} // namespace

TEST_P (WindowScreenshot, MatchesItsReference)
{
    if (! toolsPresent())
        GTEST_SKIP() << "needs xdotool, imagemagick and x11-utils";
    const auto app = findStandalone();
    if (! app.existsAsFile())
        GTEST_SKIP() << "this build makes no Standalone application (sanitizer builds leave it out)";

    const juce::String state = GetParam();
    // Kept in the build tree, so that a failure can be looked at.
    const auto shot = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("screenshots").getChildFile (state + ".png");
    shot.deleteFile();

    const DisplayTurn turn;
    juce::ChildProcess script;
    ASSERT_TRUE (script.start (juce::StringArray { sourceDir.getChildFile ("scripts/take-screenshot.sh").getFullPathName(), "-s", state, "-a",
                                                   app.getFullPathName(), shot.getFullPathName() }));
    const auto log = script.readAllProcessOutput();
    ASSERT_EQ (script.getExitCode(), 0u) << log;

    const auto actual = load (shot);
    const auto reference = load (sourceDir.getChildFile ("tests/editor/reference/" + state + ".png"));
    ASSERT_TRUE (reference.isValid());
    ASSERT_EQ (actual.getBounds(), juce::Rectangle<int> (900, 567));
    ASSERT_EQ (reference.getBounds(), actual.getBounds());

    const auto worst = ImageComparison::worstTile (actual, reference, tileSize);
    EXPECT_LE (ImageComparison::meanDifference (actual, reference), pictureTolerance) << shot.getFullPathName();
    EXPECT_LE (worst.difference, tileTolerance) << "worst at " << worst.area.toString() << " in " << shot.getFullPathName();
}

INSTANTIATE_TEST_SUITE_P (States, WindowScreenshot, testing::Values ("default", "bypass", "info", "presets"),
                          [] (const testing::TestParamInfo<const char*>& info) { return std::string (info.param); });
