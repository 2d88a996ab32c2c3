// The window as a person sees it: the Standalone application on an X display,
// driven by real pointer clicks (scripts/take-screenshot.sh, xdotool), its face read
// back from the display and compared with the reference pictures in reference/.
//
// A reference is remade, after a deliberate change of the look, with
//     scripts/take-screenshot.sh -s <state> tests/editor/reference/<state>.png
// and looked at before it is committed.

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

namespace
{
// Tolerance: the display is read through OpenGL (Mesa's software renderer), whose
// rounding and text rendering may shift a little between versions; that moves
// edges by a pixel and colours by a few steps. A missing control or a misplaced
// overlay changes whole tiles by tens of steps. Both limits are in 0..255 colour
// steps, averaged over red, green and blue.
constexpr int tileSize = 16;
constexpr double tileTolerance = 6.0;
constexpr double pictureTolerance = 1.0;

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

struct Difference
{
    double picture = 0.0;
    double worstTile = 0.0;
    juce::Rectangle<int> worstTileArea;
};

double meanStep (const juce::Image::BitmapData& a, const juce::Image::BitmapData& b, juce::Rectangle<int> area)
{
    double sum = 0.0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto ca = a.getPixelColour (x, y), cb = b.getPixelColour (x, y);
            sum += std::abs ((int) ca.getRed() - (int) cb.getRed()) + std::abs ((int) ca.getGreen() - (int) cb.getGreen())
                 + std::abs ((int) ca.getBlue() - (int) cb.getBlue());
        }
    return sum / (3.0 * area.getWidth() * area.getHeight());
}

Difference compare (const juce::Image& actual, const juce::Image& reference)
{
    const juce::Image::BitmapData a (actual, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData r (reference, juce::Image::BitmapData::readOnly);
    Difference d;
    d.picture = meanStep (a, r, actual.getBounds());
    for (int y = 0; y < actual.getHeight(); y += tileSize)
        for (int x = 0; x < actual.getWidth(); x += tileSize)
        {
            const auto tile = juce::Rectangle<int> (x, y, tileSize, tileSize).getIntersection (actual.getBounds());
            const auto step = meanStep (a, r, tile);
            if (step > d.worstTile)
                d = { d.picture, step, tile };
        }
    return d;
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
    ASSERT_TRUE (app.existsAsFile()) << "build the Standalone first";

    const juce::String state = GetParam();
    // Kept in the build tree, so that a failure can be looked at.
    const auto shot = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("screenshots").getChildFile (state + ".png");
    shot.deleteFile();

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

    const auto d = compare (actual, reference);
    EXPECT_LE (d.picture, pictureTolerance) << shot.getFullPathName();
    EXPECT_LE (d.worstTile, tileTolerance) << "worst at " << d.worstTileArea.toString() << " in " << shot.getFullPathName();
}

INSTANTIATE_TEST_SUITE_P (States, WindowScreenshot, testing::Values ("default", "bypass", "info", "presets"),
                          [] (const testing::TestParamInfo<const char*>& info) { return std::string (info.param); });
