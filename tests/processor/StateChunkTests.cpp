#include "processor/PluginProcessor.h"
#include "processor/StateChunk.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
const char* const parameterIds[] = { "Input Gain", "Output Gain", "Knob1", "Knob2", "Link", "AutoGain", "Bypass", "Mix" };

// The chunk written straight after construction, as the framework formats numbers.
const std::string defaultChunkText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <APVT>"
    "<PARAM id=\"AutoGain\" value=\"1.0\"/>"
    "<PARAM id=\"Bypass\" value=\"0.0\"/>"
    "<PARAM id=\"Input Gain\" value=\"0.0\"/>"
    "<PARAM id=\"Knob1\" value=\"0.3499999940395355\"/>"
    "<PARAM id=\"Knob2\" value=\"0.3499999940395355\"/>"
    "<PARAM id=\"Link\" value=\"0.0\"/>"
    "<PARAM id=\"Mix\" value=\"100.0\"/>"
    "<PARAM id=\"Output Gain\" value=\"0.0\"/>"
    "</APVT>";

using Values = std::array<float, 8>;

std::vector<char> makeChunk (const std::string& text, juce::int64 lengthField = -1, bool trailingZero = true)
{
    std::vector<char> chunk { 'V', 'C', '2', '!' };
    const auto length = (juce::uint32) (lengthField < 0 ? (juce::int64) text.size() : lengthField);
    for (int i = 0; i < 4; ++i)
        chunk.push_back ((char) ((length >> (8 * i)) & 0xff));
    chunk.insert (chunk.end(), text.begin(), text.end());
    if (trailingZero)
        chunk.push_back (0);
    return chunk;
}

std::string paramsXml (const std::string& root, const std::string& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <" + root + ">" + children + "</" + root + ">";
}

std::string param (const std::string& id, const std::string& value)
{
    return "<PARAM id=\"" + id + "\" value=\"" + value + "\"/>";
}

/** A processor shared by the tests of this program (construction is heavy), reset to defaults. */
MorvelAudioProcessor& processor()
{
    static auto p = std::make_unique<MorvelAudioProcessor>();
    return *p;
}

float raw (MorvelAudioProcessor& p, const char* id)
{
    return p.parameterState.getRawParameterValue (id)->load();
}

Values values (MorvelAudioProcessor& p)
{
    Values v {};
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = raw (p, parameterIds[i]);
    return v;
}

void set (MorvelAudioProcessor& p, const char* id, float value)
{
    auto* param = p.parameterState.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

void resetToDefaults (MorvelAudioProcessor& p)
{
    for (auto* param : p.getParameters())
        param->setValueNotifyingHost (param->getDefaultValue());
}

/** Non-default values on every parameter's grid. */
void setDistinctValues (MorvelAudioProcessor& p)
{
    set (p, "Input Gain", -6.5f);
    set (p, "Output Gain", 3.25f);
    set (p, "Knob1", 0.8f);
    set (p, "Knob2", 0.15f);
    set (p, "Link", 1.0f);
    set (p, "AutoGain", 0.0f);
    set (p, "Bypass", 1.0f);
    set (p, "Mix", 37.0f);
}

juce::MemoryBlock save (MorvelAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

void restore (MorvelAudioProcessor& p, const std::vector<char>& chunk)
{
    p.setStateInformation (chunk.data(), (int) chunk.size());
}

class StateChunkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        resetToDefaults (processor());
        processor().parameterState.replaceState (juce::ValueTree::fromXml (defaultChunkText.substr (defaultChunkText.find ('<', 5))));
        setDistinctValues (processor());
        before = values (processor());
    }

    void expectUnchangedAfter (const std::vector<char>& chunk)
    {
        restore (processor(), chunk);
        EXPECT_EQ (values (processor()), before);
    }

    Values before {};
};
} // namespace

//==============================================================================
TEST (StateChunkWriter, TheDefaultsChunkByteForByte)
{
    MorvelAudioProcessor fresh;
    const auto block = save (fresh);
    const auto expected = makeChunk (defaultChunkText);

    ASSERT_EQ (block.getSize(), expected.size());
    EXPECT_EQ (std::memcmp (block.getData(), expected.data(), expected.size()), 0)
        << juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);

    // Independently of the expected bytes: magic, length = size - 9, final zero.
    const auto* bytes = static_cast<const unsigned char*> (block.getData());
    EXPECT_EQ (std::memcmp (bytes, "VC2!", 4), 0);
    EXPECT_EQ ((size_t) (bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24), block.getSize() - 9);
    EXPECT_EQ (bytes[block.getSize() - 1], 0);
}

TEST (StateChunkWriter, ReplacesWhatTheBlockHeld)
{
    juce::MemoryBlock block (5000, true);
    processor().getStateInformation (block);
    EXPECT_LT (block.getSize(), 1000u);
}

TEST_F (StateChunkTest, RoundTripThroughAFreshInstance)
{
    const auto block = save (processor());

    MorvelAudioProcessor fresh;
    fresh.setStateInformation (block.getData(), (int) block.getSize());
    EXPECT_EQ (values (fresh), before);

    const auto again = save (fresh);
    EXPECT_EQ (again, block);
}

TEST_F (StateChunkTest, RefusesChunksWithABadHeader)
{
    const auto good = makeChunk (paramsXml ("APVT", param ("Knob1", "0.5")));

    expectUnchangedAfter ({});
    expectUnchangedAfter (std::vector<char> (good.begin(), good.begin() + 8));
    expectUnchangedAfter (std::vector<char> (good.begin(), good.begin() + 4));

    auto wrongMagic = good;
    wrongMagic[3] = '?';
    expectUnchangedAfter (wrongMagic);

    expectUnchangedAfter (makeChunk (paramsXml ("APVT", param ("Knob1", "0.5")), 0));
    expectUnchangedAfter (makeChunk (paramsXml ("APVT", param ("Knob1", "0.5")), 0x80000000));
    expectUnchangedAfter (makeChunk (paramsXml ("APVT", param ("Knob1", "0.5")), 0xffffffff));

    processor().setStateInformation (nullptr, 100);
    EXPECT_EQ (values (processor()), before);
    processor().setStateInformation (good.data(), -5);
    EXPECT_EQ (values (processor()), before);
}

TEST_F (StateChunkTest, ReadsOnlyTheBytesThatFollowTheHeader)
{
    // A length field beyond the data: the text present is still whole.
    const auto text = paramsXml ("APVT", param ("Knob1", "0.5"));
    restore (processor(), makeChunk (text, (juce::int64) text.size() + 1000, false));
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);

    // A length field shorter than the text cuts it: no longer a document.
    setDistinctValues (processor());
    expectUnchangedAfter (makeChunk (text, (juce::int64) text.size() - 3));

    // A zero byte ends the text early.
    auto withZero = makeChunk (text + std::string (1, '\0') + "garbage");
    restore (processor(), withZero);
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);
}

TEST_F (StateChunkTest, RefusesAnotherRootTagButNotAnotherLetterCase)
{
    expectUnchangedAfter (makeChunk (paramsXml ("PLUGINSTATE", param ("Knob1", "0.5"))));
    expectUnchangedAfter (makeChunk (paramsXml ("APVT2", param ("Knob1", "0.5"))));
    expectUnchangedAfter (makeChunk ("no xml here"));
    expectUnchangedAfter (makeChunk ("<?xml version=\"1.0\"?> <APVT><PARAM id=\"Knob1\" value=\"0.5\"/>"));

    restore (processor(), makeChunk (paramsXml ("apvt", param ("Knob1", "0.5"))));
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);

    // The restored tree keeps that spelling in later chunks.
    const auto block = save (processor());
    const auto text = juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    EXPECT_TRUE (text.contains ("<apvt>")) << text;
}

TEST_F (StateChunkTest, AMissingChildMeansTheDefaultAndAnUnknownOneIsKept)
{
    std::string children;
    for (const char* id : parameterIds)
        if (std::string (id) != "Mix" && std::string (id) != "Knob2")
            children += param (id, "1.0");
    children += param ("Future Control", "7.0");

    restore (processor(), makeChunk (paramsXml ("APVT", children)));
    EXPECT_EQ (raw (processor(), "Mix"), 100.0f);
    EXPECT_EQ (raw (processor(), "Knob2"), 0.35f);
    EXPECT_EQ (raw (processor(), "Knob1"), 1.0f);
    EXPECT_EQ (raw (processor(), "Input Gain"), 1.0f);
    EXPECT_EQ (raw (processor(), "Bypass"), 1.0f);

    const auto block = save (processor());
    const auto text = juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    EXPECT_TRUE (text.contains ("<PARAM id=\"Future Control\" value=\"7.0\"/>")) << text;
}

TEST_F (StateChunkTest, ValuesAreLimitedToTheRangeAndSnappedToTheGrid)
{
    restore (processor(), makeChunk (paramsXml ("APVT", param ("Input Gain", "35") + param ("Output Gain", "-99")
                                                            + param ("Knob1", "0.42") + param ("Knob2", "0.374")
                                                            + param ("Mix", "55.4") + param ("AutoGain", "0.7"))));
    EXPECT_EQ (raw (processor(), "Input Gain"), 20.0f);
    EXPECT_EQ (raw (processor(), "Output Gain"), -20.0f);
    EXPECT_FLOAT_EQ (raw (processor(), "Knob1"), 0.4f);
    EXPECT_FLOAT_EQ (raw (processor(), "Knob2"), 0.35f);
    EXPECT_EQ (raw (processor(), "Mix"), 55.0f);
    EXPECT_EQ (raw (processor(), "AutoGain"), 1.0f);
}

TEST_F (StateChunkTest, AValueThatIsNotAFiniteNumberCountsAsMissing)
{
    for (const char* bad : { "nan", "NaN", "-nan", "inf", "-inf", "Infinity", "1e999", "-1e999", "1e39",
                             "abc", "", " ", "0x10", "1.5abc", "--1", "1e", "\xc3\xa9", "0e9999999999" })
    {
        SCOPED_TRACE (bad);
        setDistinctValues (processor());

        restore (processor(), makeChunk (paramsXml ("APVT", param ("Knob1", bad) + param ("Input Gain", bad)
                                                                + param ("Mix", bad) + param ("Knob2", "0.6"))));

        EXPECT_EQ (raw (processor(), "Knob1"), 0.35f);
        EXPECT_EQ (raw (processor(), "Input Gain"), 0.0f);
        EXPECT_EQ (raw (processor(), "Mix"), 100.0f);
        EXPECT_FLOAT_EQ (raw (processor(), "Knob2"), 0.6f);

        for (const char* id : parameterIds)
            EXPECT_TRUE (std::isfinite (raw (processor(), id))) << id;
    }

    // Whatever the child's tag: the tree matches parameters by "id" alone.
    restore (processor(), makeChunk (paramsXml ("APVT", "<OTHER id=\"Knob1\" value=\"nan\"/>")));
    EXPECT_EQ (raw (processor(), "Knob1"), 0.35f);
}

TEST_F (StateChunkTest, NumbersInOtherSpellingsStillLoad)
{
    restore (processor(), makeChunk (paramsXml ("APVT", param ("Knob1", " 0.5 ") + param ("Input Gain", "+3")
                                                            + param ("Mix", "5e0001") + param ("Output Gain", "-1.00"))));
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);
    EXPECT_EQ (raw (processor(), "Input Gain"), 3.0f);
    EXPECT_EQ (raw (processor(), "Mix"), 50.0f);
    EXPECT_EQ (raw (processor(), "Output Gain"), -1.0f);
}

TEST_F (StateChunkTest, RefusesXmlThatCouldExhaustTheStackOrExpandWithoutLimit)
{
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    expectUnchangedAfter (makeChunk (paramsXml ("APVT", param ("Knob1", "0.5") + deep)));

    const std::string entities =
        "<?xml version=\"1.0\"?><!DOCTYPE APVT [<!ENTITY a \"&a;&a;\">]>"
        "<APVT><PARAM id=\"Knob1\" value=\"&a;\"/></APVT>";
    expectUnchangedAfter (makeChunk (entities));
    expectUnchangedAfter (makeChunk ("<!DOCTYPE APVT SYSTEM \"file:///etc/passwd\"><APVT>" + param ("Knob1", "0.5") + "</APVT>"));
}

TEST_F (StateChunkTest, RefusesARepeatedAttributeThatWouldBindTheWrongParameter)
{
    // The framework keeps both "id"s; the tree would then give Mix's value to Knob1.
    expectUnchangedAfter (makeChunk (paramsXml ("APVT", "<PARAM id=\"Knob1\" id=\"Mix\" value=\"0.5\"/>")));
    expectUnchangedAfter (makeChunk (paramsXml ("APVT", "<PARAM id=\"Knob1\" value=\"0.5\" value=\"0.9\"/>")));
}

TEST_F (StateChunkTest, RestoresWellFormedDocumentsInAnyOfTheFormsXmlAllows)
{
    // Forms the plug-in never writes and another tool or a later version may:
    // declaration with standalone, processing instructions, comments, CDATA, names
    // beyond ASCII, single quotes, blanks inside tags, many attributes.
    std::string manyAttributes = "<Zukunft";
    for (int i = 0; i < 100; ++i)
        manyAttributes += " a" + std::to_string (i) + "='" + std::to_string (i) + "'";
    manyAttributes += "/>";

    const std::string text =
        "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\n"
        "<?xml-stylesheet type='text/xsl' href='state.xsl'?>\n"
        "<!-- saved by hand -->\n"
        "<APVT>\n"
        "  <?note anything?>\n"
        "  <![CDATA[ <not> & an element ]]>\n"
        "  <PARAM id='Knob1' value='0.5' ></PARAM >\n"
        "  <Param\xc3\xa8tre id=\"Mix\" value=\"42\"/>\n"
        "  " + manyAttributes + "\n"
        "</APVT >\n";

    restore (processor(), makeChunk (text));
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);
    EXPECT_EQ (raw (processor(), "Mix"), 42.0f);
    EXPECT_EQ (raw (processor(), "Input Gain"), 0.0f); // no child: back to its default

    // What it restored saves and loads again.
    const auto block = save (processor());
    setDistinctValues (processor());
    processor().setStateInformation (block.getData(), (int) block.getSize());
    EXPECT_EQ (raw (processor(), "Knob1"), 0.5f);
    EXPECT_EQ (raw (processor(), "Mix"), 42.0f);
}

TEST (StateChunkXml, AcceptsWellFormedXmlAndRefusesTheRest)
{
    auto ok = [] (const std::string& s) { return StateChunk::parseXml (s.data(), s.size()) != nullptr; };

    EXPECT_TRUE (ok (defaultChunkText));
    EXPECT_TRUE (ok ("<APVT/>"));
    EXPECT_TRUE (ok ("\n<APVT a='1' b = \"2\">\n  <!-- note -->\n  <C>text &amp; &lt;&gt;&quot;&apos;&#10;&#x1F600;</C>\n</APVT>\n"));
    EXPECT_TRUE (ok ("<APVT x=\"caf\xc3\xa9\"/>"));
    EXPECT_TRUE (ok ("<APVT><?pi?><![CDATA[<a>]]></APVT>"));
    EXPECT_TRUE (ok ("<caf\xc3\xa9 \xc3\xa9t\xc3\xa9='1'/>"));

    std::string nested;
    for (int i = 0; i < StateChunk::maxDepth; ++i)
        nested += "<a>";
    for (int i = 0; i < StateChunk::maxDepth; ++i)
        nested += "</a>";
    EXPECT_TRUE (ok (nested));
    EXPECT_FALSE (ok ("<b>" + nested + "</b>"));

    // Not well-formed, or not safe to hand to the framework's parser.
    EXPECT_FALSE (ok (""));
    EXPECT_FALSE (ok ("<APVT>"));
    EXPECT_FALSE (ok ("<APVT></OTHER>"));
    EXPECT_FALSE (ok ("<APVT/><APVT/>"));
    EXPECT_FALSE (ok ("<APVT/> trailing"));
    EXPECT_FALSE (ok ("<APVT a=1/>"));
    EXPECT_FALSE (ok ("<APVT><PARAM id=\"Knob1\" id=\"Mix\" value=\"1\"/></APVT>"));
    EXPECT_FALSE (ok ("<APVT a=\"1/>"));
    EXPECT_FALSE (ok ("<APVT a=\"<\"/>"));
    EXPECT_FALSE (ok ("<APVT a=\"&unknown;\"/>"));
    EXPECT_FALSE (ok ("<APVT a=\"&#0;\"/>"));
    EXPECT_FALSE (ok ("<APVT a=\"&#x110000;\"/>"));
    EXPECT_FALSE (ok ("<APVT a=\"&#xD800;\"/>"));
    EXPECT_FALSE (ok ("<APVT a=\"&#x\"/>"));
    EXPECT_FALSE (ok ("<!DOCTYPE x><APVT/>"));
    EXPECT_FALSE (ok ("<APVT><!-- open </APVT>"));
    EXPECT_FALSE (ok ("<APVT>&#1;</APVT>"));
    EXPECT_FALSE (ok (" <?xml version=\"1.0\"?><APVT/>"));
}

TEST (StateChunkReader, RefusesInvalidUtf8)
{
    for (const std::string& bad : { std::string ("\xff"), std::string ("\xc3"), std::string ("\xe0\x80\x80"),
                                   std::string ("\xed\xa0\x80"), std::string ("\xf4\x90\x80\x80"), std::string ("\xc0\xaf") })
    {
        const auto chunk = makeChunk (paramsXml ("APVT", "<PARAM id=\"x" + bad + "\" value=\"1\"/>"));
        EXPECT_EQ (StateChunk::read (chunk.data(), (int) chunk.size(), "APVT"), nullptr);
    }

    const auto good = makeChunk (paramsXml ("APVT", "<PARAM id=\"caf\xc3\xa9 \xf0\x9f\x8e\xb8\" value=\"1\"/>"));
    auto xml = StateChunk::read (good.data(), (int) good.size(), "APVT");
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getChildElement (0)->getStringAttribute ("id"), juce::String::fromUTF8 ("caf\xc3\xa9 \xf0\x9f\x8e\xb8"));
}

TEST (StateChunkReader, EscapedTextSurvivesARoundTrip)
{
    juce::ValueTree tree ("APVT");
    juce::ValueTree child ("PARAM");
    child.setProperty ("id", "odd <name> & \"quotes\" 'too'\n\ttab", nullptr);
    child.setProperty ("value", 0.25, nullptr);
    tree.appendChild (child, nullptr);

    juce::MemoryBlock block;
    StateChunk::write (tree, block);
    auto xml = StateChunk::read (block.getData(), (int) block.getSize(), "APVT");
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (juce::ValueTree::fromXml (*xml).isEquivalentTo (tree));
}

//==============================================================================
namespace
{
/** Mutations that keep a chunk close to a real one, so that the reader's later checks get exercised. */
class ChunkMutator
{
public:
    explicit ChunkMutator (unsigned seed) : rng (seed) {}

    std::vector<char> mutate (std::vector<char> chunk)
    {
        const int rounds = 1 + pick (4);
        for (int i = 0; i < rounds; ++i)
            mutateOnce (chunk);
        return chunk;
    }

    std::vector<char> randomBytes()
    {
        std::vector<char> bytes ((size_t) pick (300));
        for (auto& b : bytes)
            b = (char) pick (256);
        if (bytes.size() >= 8 && pick (2) == 0)
            std::memcpy (bytes.data(), "VC2!", 4);
        return bytes;
    }

    int pick (int n) { return std::uniform_int_distribution<int> (0, n - 1) (rng); }

private:
    std::mt19937 rng;

    void mutateOnce (std::vector<char>& c)
    {
        // Strings, not pointers: the last token holds a zero byte.
        static const std::string tokens[] = {
            "<", ">", "/>", "</", "</PARAM>", "</APVT>", "<PARAM id=\"Knob1\" value=\"", "\"", "'", "=",
            "nan", "inf", "-inf", "1e999", "1e-999", "-0", "99999", "&", "&amp;", "&#", "&#x41;", "&#xFFFFFF;",
            "<!--", "-->", "<!DOCTYPE x [<!ENTITY e \"&e;\">]>", "<![CDATA[", "<?", "?>", "apvt", "APVT",
            "Knob2", "Mix", "value", "id", " ", "\n", "\xc3", "\xa9", "\xff", "\xf0\x9f\x8e\xb8", std::string (1, '\0')
        };

        const size_t size = c.size();
        switch (pick (9))
        {
            case 0: // flip bits
                if (size > 0)
                    c[(size_t) pick ((int) size)] ^= (char) (1 << pick (8));
                break;
            case 1: // overwrite a byte
                if (size > 0)
                    c[(size_t) pick ((int) size)] = (char) pick (256);
                break;
            case 2: // delete a range
                if (size > 0)
                {
                    const size_t start = (size_t) pick ((int) size);
                    const size_t len = std::min (size - start, (size_t) 1 + (size_t) pick (40));
                    c.erase (c.begin() + (long) start, c.begin() + (long) (start + len));
                }
                break;
            case 3: // insert a token
            {
                const std::string token = pick (20) == 0 ? std::string (1, '\0') : tokens[pick ((int) std::size (tokens))];
                const size_t at = (size_t) pick ((int) size + 1);
                c.insert (c.begin() + (long) at, token.begin(), token.end());
                break;
            }
            case 4: // truncate
                c.resize ((size_t) pick ((int) size + 1));
                break;
            case 5: // duplicate a range
                if (size > 0)
                {
                    const size_t start = (size_t) pick ((int) size);
                    const size_t len = std::min (size - start, (size_t) 1 + (size_t) pick (80));
                    std::vector<char> piece (c.begin() + (long) start, c.begin() + (long) (start + len));
                    c.insert (c.begin() + (long) pick ((int) size + 1), piece.begin(), piece.end());
                }
                break;
            case 6: // rewrite the length field
                if (size >= 8)
                {
                    static const juce::uint32 lengths[] = { 0, 1, 8, 0x7fffffff, 0x80000000, 0xffffffff };
                    const juce::uint32 length = pick (2) == 0 ? lengths[pick (6)] : (juce::uint32) pick ((int) size + 50);
                    for (int i = 0; i < 4; ++i)
                        c[(size_t) (4 + i)] = (char) ((length >> (8 * i)) & 0xff);
                }
                break;
            case 7: // replace a number inside the text
            {
                const std::string text (c.begin(), c.end());
                const auto at = text.find ("value=\"", (size_t) pick ((int) size + 1));
                if (at != std::string::npos)
                {
                    static const char* const numbers[] = { "nan", "inf", "1e999", "-1e999", "", "x", "1e38", "3.4e39", "-0.0", "0.05" };
                    const auto valueStart = at + 7;
                    const auto valueEnd = text.find ('"', valueStart);
                    if (valueEnd != std::string::npos)
                    {
                        const std::string n = numbers[pick ((int) std::size (numbers))];
                        c.erase (c.begin() + (long) valueStart, c.begin() + (long) valueEnd);
                        c.insert (c.begin() + (long) valueStart, n.begin(), n.end());
                    }
                }
                break;
            }
            default: // swap two bytes
                if (size > 1)
                    std::swap (c[(size_t) pick ((int) size)], c[(size_t) pick ((int) size)]);
                break;
        }
    }
};

/** Every parameter finite, inside its range and on its grid. */
void expectSaneParameters (MorvelAudioProcessor& p)
{
    for (auto* base : p.getParameters())
    {
        auto* param = dynamic_cast<juce::RangedAudioParameter*> (base);
        ASSERT_NE (param, nullptr);
        const float v = raw (p, param->getParameterID().toRawUTF8());
        const auto& range = param->getNormalisableRange();
        ASSERT_TRUE (std::isfinite (v)) << param->getParameterID();
        ASSERT_GE (v, range.start) << param->getParameterID();
        ASSERT_LE (v, range.end) << param->getParameterID();
        ASSERT_EQ (range.snapToLegalValue (v), v) << param->getParameterID();
    }
}
} // namespace

TEST (StateChunkFuzz, MutatedAndRandomChunksRestoreCleanlyOrChangeNothing)
{
    auto& p = processor();
    resetToDefaults (p);
    ChunkMutator mutator (20261207);

    std::vector<std::vector<char>> seeds;
    {
        const auto defaults = save (p);
        seeds.emplace_back (static_cast<const char*> (defaults.getData()), static_cast<const char*> (defaults.getData()) + defaults.getSize());
        setDistinctValues (p);
        const auto distinct = save (p);
        seeds.emplace_back (static_cast<const char*> (distinct.getData()), static_cast<const char*> (distinct.getData()) + distinct.getSize());
        seeds.push_back (makeChunk (paramsXml ("apvt", param ("Knob1", "0.9") + param ("Unknown", "2") + "<!-- c -->")));
    }

    int restored = 0, ignored = 0;

    for (int i = 0; i < 20000; ++i)
    {
        if (i % 50 == 0)
            set (p, "Knob1", 0.05f * (float) mutator.pick (21));

        const auto chunk = i % 6 == 5 ? mutator.randomBytes() : mutator.mutate (seeds[(size_t) mutator.pick ((int) seeds.size())]);
        const auto beforeValues = values (p);

        restore (p, chunk);
        expectSaneParameters (p);
        if (testing::Test::HasFatalFailure())
        {
            ADD_FAILURE() << "chunk " << i << ": " << juce::String::toHexString (chunk.data(), (int) chunk.size());
            return;
        }

        if (values (p) == beforeValues)
        {
            ++ignored;
            continue;
        }

        // A restore must leave a state that saves and reads back as it is.
        ++restored;
        const auto saved = save (p);
        const auto xml = StateChunk::read (saved.getData(), (int) saved.getSize(), "APVT");
        ASSERT_NE (xml, nullptr) << "chunk " << i;

        const auto afterValues = values (p);
        p.setStateInformation (saved.getData(), (int) saved.getSize());
        ASSERT_EQ (values (p), afterValues) << "chunk " << i << ": " << juce::String (chunk.data() + 8, chunk.size() - 8)
                                            << "\nsaved: " << juce::String (static_cast<const char*> (saved.getData()) + 8);
    }

    // The mutations are meant to reach both outcomes often (a damaged declaration,
    // a frequent mutation, makes the document not well-formed).
    EXPECT_GT (restored, 500);
    EXPECT_GT (ignored, 1000);
}
