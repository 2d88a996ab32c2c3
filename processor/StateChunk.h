#pragma once

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

#include <memory>

/**
    The state chunk that hosts store with a project:

        offset 0   "VC2!" (0x21324356, little-endian)
        offset 4   uint32 little-endian: length n of the XML text (chunk size - 9)
        offset 8   n bytes of UTF-8 XML on one line, after the standard declaration
        offset 8+n one zero byte

    Reading is defensive: chunks come from hosts, project files and other plug-ins.
    Every function here runs on non-real-time threads only.
*/
class StateChunk
{
public:
    /** Replaces the whole content of dest with the chunk for tree. Allocates. */
    static void write (const juce::ValueTree& tree, juce::MemoryBlock& dest);

    /**
        The root element of a chunk whose tag equals expectedTag ignoring letter case,
        or nullptr for anything else: fewer than 9 bytes, another magic, a length field
        that is 0 or negative, text that parseXml refuses, or another root tag. At most
        min(length, size - 8) bytes of text are read, ending early at a zero byte.

        Children whose "value" is not a finite number are removed, so that the
        parameter goes back to its default as if its child were missing.
    */
    static std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes, const juce::String& expectedTag);

    /**
        The elements of text (len bytes, no zero byte inside; character data is left
        out, as the state tree holds none), or nullptr unless text is a well-formed XML
        document in UTF-8 with no document type declaration and elements nested at most
        maxDepth deep. Expat reads it; the framework's own parser is not used, because
        it expands a declaration's entities without limit, recurses once per nesting
        level (a hostile chunk could exhaust a host thread's stack) and keeps both
        copies of a repeated attribute (the parameter tree would then bind a parameter
        to a child that names another). Allocates.
    */
    static std::unique_ptr<juce::XmlElement> parseXml (const char* text, size_t len);

    /** Deepest element nesting that parseXml accepts; a saved tree is two deep. */
    static constexpr int maxDepth = 32;

    /**
        True when text is a plain decimal number (sign, digits with an optional point,
        an exponent of at most four significant digits; surrounding blanks allowed)
        that is finite and within a float's range. Independent of the C locale.
    */
    static bool isFiniteNumber (const juce::String& text);

    /** True when element has a "value" attribute that is not a finite number. */
    static bool hasUnusableValue (const juce::XmlElement& element);

    /**
        Removes every child of root that has a "value" attribute that is not a finite
        number, so that its parameter is treated as having no saved value.
    */
    static void removeUnusableValues (juce::XmlElement& root);
};
