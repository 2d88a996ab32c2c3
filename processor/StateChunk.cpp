#include "processor/StateChunk.h"

#include <expat.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr juce::uint32 chunkMagic = 0x21324356; // "VC2!" read little-endian
constexpr int headerSize = 8;

/**
    Builds the element tree while expat reads a document. Expat checks that the
    document is well-formed; the builder refuses what the state tree must not meet.
    Nesting is followed with a list, not by recursion, so a hostile depth costs no
    stack here; the limit protects the tree's own recursive operations.
*/
class XmlTreeBuilder
{
public:
    explicit XmlTreeBuilder (XML_Parser p) : parser (p)
    {
        XML_SetUserData (parser, this);
        XML_SetElementHandler (parser, startElement, endElement);
        XML_SetStartDoctypeDeclHandler (parser, startDoctype);
    }

    std::unique_ptr<juce::XmlElement> parse (const char* text, int len)
    {
        const bool wellFormed = XML_Parse (parser, text, len, XML_TRUE) == XML_STATUS_OK;
        return wellFormed && ! refused ? std::move (root) : nullptr;
    }

private:
    XML_Parser parser;
    std::unique_ptr<juce::XmlElement> root;
    std::vector<juce::XmlElement*> openElements;
    bool refused = false;

    void refuse()
    {
        refused = true;
        XML_StopParser (parser, XML_FALSE);
    }

    static void XMLCALL startElement (void* builder, const XML_Char* name, const XML_Char** attributes)
    {
        auto& b = *static_cast<XmlTreeBuilder*> (builder);

        if ((int) b.openElements.size() >= StateChunk::maxDepth)
            return b.refuse();

        auto element = std::make_unique<juce::XmlElement> (juce::String::fromUTF8 (name));
        for (auto** a = attributes; *a != nullptr; a += 2)
            element->setAttribute (juce::String::fromUTF8 (a[0]), juce::String::fromUTF8 (a[1]));

        auto* added = element.get();
        if (b.openElements.empty())
            b.root = std::move (element);
        else
            b.openElements.back()->addChildElement (element.release());

        b.openElements.push_back (added);
    }

    static void XMLCALL endElement (void* builder, const XML_Char*)
    {
        auto& open = static_cast<XmlTreeBuilder*> (builder)->openElements;
        if (! open.empty())
            open.pop_back();
    }

    // A declaration's entities are what expand without limit; no chunk needs one.
    static void XMLCALL startDoctype (void* builder, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        static_cast<XmlTreeBuilder*> (builder)->refuse();
    }
};

struct ParserDeleter
{
    void operator() (XML_ParserStruct* parser) const { XML_ParserFree (parser); }
};

/** Optional sign, digits with an optional point (at least one digit), optional exponent with digits. */
bool isPlainDecimal (const std::string& s)
{
    size_t i = 0;
    const auto digitsFrom = [&s, &i]
    {
        const size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i - start;
    };

    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;

    size_t mantissaDigits = digitsFrom();
    if (i < s.size() && s[i] == '.')
    {
        ++i;
        mantissaDigits += digitsFrom();
    }

    if (mantissaDigits == 0)
        return false;

    if (i < s.size() && (s[i] == 'e' || s[i] == 'E'))
    {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;

        const size_t exponentStart = i;
        if (digitsFrom() == 0)
            return false;

        // The framework reads the exponent into an int that overflows past nine
        // digits ("0e9999999999" is zero here and undefined there): keep it short.
        const size_t firstSignificant = std::min (s.find_first_not_of ('0', exponentStart), i);
        if (i - firstSignificant > 4)
            return false;
    }

    return i == s.size();
}
} // namespace

//==============================================================================
void StateChunk::write (const juce::ValueTree& tree, juce::MemoryBlock& dest)
{
    dest.reset();

    const auto xml = tree.createXml();
    if (xml == nullptr)
        return;

    {
        juce::MemoryOutputStream out (dest, false);
        out.writeInt ((int) chunkMagic);
        out.writeInt (0);
        xml->writeTo (out, juce::XmlElement::TextFormat().singleLine());
        out.writeByte (0);
    }

    // The length is known only now: everything after the header but the final zero.
    const auto textLength = juce::ByteOrder::swapIfBigEndian ((juce::uint32) dest.getSize() - headerSize - 1);
    dest.copyFrom (&textLength, 4, sizeof (textLength));
}

std::unique_ptr<juce::XmlElement> StateChunk::read (const void* data, int sizeInBytes, const juce::String& expectedTag)
{
    if (data == nullptr || sizeInBytes <= headerSize)
        return {};

    const auto* bytes = static_cast<const char*> (data);

    if (juce::ByteOrder::littleEndianInt (bytes) != chunkMagic)
        return {};

    const auto declaredLength = (int) juce::ByteOrder::littleEndianInt (bytes + 4);

    if (declaredLength <= 0)
        return {};

    const char* text = bytes + headerSize;
    const size_t available = (size_t) juce::jmin (declaredLength, sizeInBytes - headerSize);
    const size_t textLength = std::find (text, text + available, '\0') - text;

    auto xml = parseXml (text, textLength);

    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (expectedTag))
        return {};

    removeUnusableValues (*xml);
    return xml;
}

std::unique_ptr<juce::XmlElement> StateChunk::parseXml (const char* text, size_t len)
{
    if (len > (size_t) std::numeric_limits<int>::max())
        return {};

    // UTF-8 whatever the declaration says, as the writer writes it.
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser (XML_ParserCreate ("UTF-8"));
    if (parser == nullptr)
        return {};

    return XmlTreeBuilder (parser.get()).parse (text, (int) len);
}

bool StateChunk::isFiniteNumber (const juce::String& text)
{
    const auto trimmed = text.trim();
    if (! isPlainDecimal (trimmed.toStdString()))
        return false;

    // The framework's own reader, which is independent of the locale.
    const double value = trimmed.getDoubleValue();
    return std::isfinite (value) && std::abs (value) <= (double) std::numeric_limits<float>::max();
}

bool StateChunk::hasUnusableValue (const juce::XmlElement& element)
{
    // Compared exactly, as the tree's property lookup does; a repeated attribute
    // is checked every time it occurs.
    for (int i = 0; i < element.getNumAttributes(); ++i)
        if (element.getAttributeName (i) == "value" && ! isFiniteNumber (element.getAttributeValue (i)))
            return true;

    return false;
}

void StateChunk::removeUnusableValues (juce::XmlElement& root)
{
    // The parameter tree finds a parameter's child by its "id" whatever the child's
    // tag, so every child is checked, not only PARAM ones.
    for (auto* child = root.getFirstChildElement(); child != nullptr;)
    {
        auto* next = child->getNextElement();

        if (hasUnusableValue (*child))
            root.removeChildElement (child, true);

        child = next;
    }
}
