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
        that is 0 or negative, text that is not a small well-formed XML document
        (see isSafeXml), or another root tag. At most min(length, size - 8) bytes of
        text are read, ending early at a zero byte.

        Children whose "value" is not a finite number are removed, so that the
        parameter goes back to its default as if its child were missing.
    */
    static std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes, const juce::String& expectedTag);

    /**
        True when text (len bytes, no zero byte inside) is valid UTF-8 and well-formed
        XML of the plain kind the chunk writer produces: an optional declaration,
        elements with quoted, distinct attributes (at most 64 per element), character
        data, comments, the predefined
        and numeric character references, elements nested at most maxDepth deep.
        No DOCTYPE (whose entities the framework expands without limit), no CDATA,
        no processing instructions after the declaration.

        The framework's parser recurses once per nesting level; this check is what
        keeps a hostile chunk from exhausting a host thread's stack.
    */
    static bool isSafeXml (const char* text, size_t len);

    /** Deepest element nesting that isSafeXml accepts; a saved tree is two deep. */
    static constexpr int maxDepth = 32;

    /** True when text is a finite number in a float's range (surrounding blanks allowed). */
    static bool isFiniteNumber (const juce::String& text);

    /** True when element has a "value" attribute that is not a finite number. */
    static bool hasUnusableValue (const juce::XmlElement& element);

    /**
        Removes every child of root that has a "value" attribute that is not a finite
        number, so that its parameter is treated as having no saved value.
    */
    static void removeUnusableValues (juce::XmlElement& root);
};
