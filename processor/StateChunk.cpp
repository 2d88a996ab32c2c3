#include "processor/StateChunk.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace
{
constexpr juce::uint32 chunkMagic = 0x21324356; // "VC2!" read little-endian
constexpr int headerSize = 8;

//==============================================================================
bool isValidUtf8 (const unsigned char* s, size_t len)
{
    size_t i = 0;

    while (i < len)
    {
        const unsigned c = s[i];

        if (c < 0x80)
        {
            ++i;
            continue;
        }

        size_t extra = 0;
        juce::uint32 codePoint = 0;

        if ((c & 0xe0) == 0xc0)      { extra = 1; codePoint = c & 0x1f; }
        else if ((c & 0xf0) == 0xe0) { extra = 2; codePoint = c & 0x0f; }
        else if ((c & 0xf8) == 0xf0) { extra = 3; codePoint = c & 0x07; }
        else return false;

        if (i + extra >= len)
            return false;

        for (size_t k = 1; k <= extra; ++k)
        {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;

            codePoint = (codePoint << 6) | (s[i + k] & 0x3f);
        }

        static constexpr juce::uint32 smallestForLength[] = { 0, 0x80, 0x800, 0x10000 };

        if (codePoint < smallestForLength[extra] || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
            return false;

        i += extra + 1;
    }

    return true;
}

/** A strict, non-recursive reader of the plain XML subset that chunks are written in. */
class XmlSubsetChecker
{
public:
    XmlSubsetChecker (const char* textToCheck, size_t length) : text (textToCheck), len (length) {}

    bool check()
    {
        skipBlanks();

        if (startsWith ("<?xml"))
        {
            if (! skipPast ("?>"))
                return false;
        }

        if (! skipBlanksAndComments() || ! isAt ('<'))
            return false;

        if (! readRootElement())
            return false;

        return skipBlanksAndComments() && pos == len;
    }

private:
    struct Name { size_t start = 0, length = 0; };

    // A saved parameter has two attributes; this bounds the duplicate search.
    static constexpr size_t maxAttributes = 64;

    const char* text;
    size_t len;
    size_t pos = 0;
    std::array<Name, StateChunk::maxDepth> openElements {};
    int depth = 0;

    bool isAt (char c) const { return pos < len && text[pos] == c; }

    bool startsWith (const char* s) const
    {
        const size_t n = std::strlen (s);
        return len - pos >= n && std::memcmp (text + pos, s, n) == 0;
    }

    bool skipPast (const char* s)
    {
        const size_t n = std::strlen (s);

        for (; len - pos >= n; ++pos)
        {
            if (std::memcmp (text + pos, s, n) == 0)
            {
                pos += n;
                return true;
            }
        }

        return false;
    }

    static bool isBlank (char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    void skipBlanks()
    {
        while (pos < len && isBlank (text[pos]))
            ++pos;
    }

    bool skipBlanksAndComments()
    {
        for (;;)
        {
            skipBlanks();

            if (! startsWith ("<!--"))
                return true;

            pos += 4;

            if (! skipPast ("-->"))
                return false;
        }
    }

    static bool isNameStart (char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    }

    static bool isNameChar (char c)
    {
        return isNameStart (c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }

    bool readName (Name& name)
    {
        if (pos >= len || ! isNameStart (text[pos]))
            return false;

        name.start = pos;

        while (pos < len && isNameChar (text[pos]))
            ++pos;

        name.length = pos - name.start;
        return true;
    }

    /** At '&': accepts the predefined entities and numeric references to valid characters. */
    bool readReference()
    {
        ++pos;

        for (const char* entity : { "amp;", "lt;", "gt;", "quot;", "apos;" })
        {
            if (startsWith (entity))
            {
                pos += std::strlen (entity);
                return true;
            }
        }

        if (! isAt ('#'))
            return false;

        ++pos;
        const bool hex = isAt ('x');
        if (hex)
            ++pos;

        juce::uint32 value = 0;
        int digits = 0;

        for (; pos < len && text[pos] != ';'; ++pos)
        {
            const int digit = hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) text[pos])
                                  : (text[pos] >= '0' && text[pos] <= '9' ? text[pos] - '0' : -1);

            if (digit < 0 || ++digits > 7)
                return false;

            value = value * (hex ? 16u : 10u) + (juce::uint32) digit;
        }

        if (! isAt (';') || digits == 0)
            return false;

        ++pos;
        return value != 0 && value <= 0x10ffff && ! (value >= 0xd800 && value <= 0xdfff);
    }

    bool readAttributeValue()
    {
        const char quote = text[pos++];

        while (pos < len && text[pos] != quote)
        {
            if (text[pos] == '<')
                return false;

            if (text[pos] == '&')
            {
                if (! readReference())
                    return false;
            }
            else
            {
                ++pos;
            }
        }

        if (pos >= len)
            return false;

        ++pos;
        return true;
    }

    bool sameName (const Name& a, const Name& b) const
    {
        return a.length == b.length && std::memcmp (text + a.start, text + b.start, a.length) == 0;
    }

    /**
        At '<' of an opening tag. Sets selfClosing for "<name ... />". A repeated
        attribute name is refused: the framework keeps both and the parameter tree
        then binds a parameter to a child that names another.
    */
    bool readStartTag (Name& name, bool& selfClosing)
    {
        ++pos;

        if (! readName (name))
            return false;

        std::array<Name, maxAttributes> attributes {};
        size_t numAttributes = 0;

        for (;;)
        {
            const size_t before = pos;
            skipBlanks();

            if (startsWith ("/>"))
            {
                pos += 2;
                selfClosing = true;
                return true;
            }

            if (isAt ('>'))
            {
                ++pos;
                selfClosing = false;
                return true;
            }

            Name attribute;

            if (pos == before || ! readName (attribute) || numAttributes == maxAttributes)
                return false;

            for (size_t i = 0; i < numAttributes; ++i)
                if (sameName (attributes[i], attribute))
                    return false;

            attributes[numAttributes++] = attribute;

            skipBlanks();

            if (! isAt ('='))
                return false;

            ++pos;
            skipBlanks();

            if (! isAt ('"') && ! isAt ('\''))
                return false;

            if (! readAttributeValue())
                return false;
        }
    }

    /** At "</": the closing tag must name the innermost open element. */
    bool readEndTag()
    {
        pos += 2;
        Name name;

        if (depth == 0 || ! readName (name))
            return false;

        if (! sameName (name, openElements[(size_t) depth - 1]))
            return false;

        skipBlanks();

        if (! isAt ('>'))
            return false;

        ++pos;
        --depth;
        return true;
    }

    bool readRootElement()
    {
        do
        {
            if (startsWith ("</"))
            {
                if (! readEndTag())
                    return false;
            }
            else if (startsWith ("<!--"))
            {
                pos += 4;

                if (! skipPast ("-->"))
                    return false;
            }
            else if (isAt ('<'))
            {
                Name name;
                bool selfClosing = false;

                if (! readStartTag (name, selfClosing))
                    return false;

                if (! selfClosing)
                {
                    if (depth >= StateChunk::maxDepth)
                        return false;

                    openElements[(size_t) depth++] = name;
                }
            }
            else if (isAt ('&'))
            {
                if (! readReference())
                    return false;
            }
            else if (pos < len)
            {
                ++pos;
            }
            else
            {
                return false;
            }
        }
        while (depth > 0);

        return true;
    }
};
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

    if (! isValidUtf8 (reinterpret_cast<const unsigned char*> (text), textLength) || ! isSafeXml (text, textLength))
        return {};

    auto xml = juce::parseXML (juce::String::fromUTF8 (text, (int) textLength));

    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (expectedTag))
        return {};

    removeUnusableValues (*xml);
    return xml;
}

bool StateChunk::isSafeXml (const char* text, size_t len)
{
    return XmlSubsetChecker (text, len).check();
}

bool StateChunk::isFiniteNumber (const juce::String& text)
{
    std::string s = text.trim().toStdString();

    if (! s.empty() && s.front() == '+')
        s.erase (0, 1);

    // The framework reads the number again with an int exponent that overflows past
    // nine digits ("0e9999999999" is zero here and undefined there): keep it short.
    if (const auto e = s.find_first_of ("eE"); e != std::string::npos)
    {
        auto digits = s.find_first_not_of ("+-", e + 1);
        digits = std::min (s.find_first_not_of ('0', digits), s.size());
        if (s.size() - digits > 4)
            return false;
    }

    double value = 0.0;
    const auto [end, error] = std::from_chars (s.data(), s.data() + s.size(), value);

    return error == std::errc() && end == s.data() + s.size() && ! s.empty()
           && std::isfinite (value) && std::abs (value) <= (double) std::numeric_limits<float>::max();
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
