#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace
{
/**
    A home of the program's own, empty, for as long as the program runs. The LV2 host
    searches the user's ~/.lv2 before any folder it is given, and takes the first
    bundle with the plug-in's URI: with a copy installed there, the tests would load
    that copy instead of the build. Any other installed copy is caught by the tests'
    check of the loaded library's path.
*/
class IsolatedHome
{
public:
    IsolatedHome()
    {
        char pattern[] = "/tmp/tessaline-hosting-home-XXXXXX";
        if (mkdtemp (pattern) == nullptr || setenv ("HOME", pattern, 1) != 0)
        {
            std::perror ("isolated home");
            std::exit (1);
        }
        folder = pattern;
    }

    ~IsolatedHome()
    {
        std::error_code ignored;
        std::filesystem::remove_all (folder, ignored);
    }

private:
    std::filesystem::path folder;
};
} // namespace

// Hosting runs on the message thread, as in a real host.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    IsolatedHome home;
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
