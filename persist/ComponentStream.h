#pragma once
// The component stream: a root object, its stored published properties (nested objects under
// dotted paths, collections inline) and the custom data of DefineProperties, in a binary form
// (signature "TPF0") and an equivalent text form. Reading applies the stored properties to an
// existing object.
// One file per direction: ComponentWriter, ComponentReader, BinaryToText, TextToBinary; the
// binary values they share are in BinaryValues.h, the text form's names in StreamNames.h.
#include "framework/Persistent.h"
#include "framework/Streams.h"

#include <cstdint>

// Value tags of the binary form.
enum TValueType : uint8_t {
    vaNull = 0,       // end of a list, of the properties or of the children
    vaList = 1,       // values up to vaNull
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,   // 10 bytes: 64-bit mantissa with explicit integer bit, sign and exponent
    vaString = 6,     // length byte, ASCII text
    vaIdent = 7,      // length byte, identifier (enumeration names)
    vaFalse = 8,
    vaTrue = 9,
    vaLString = 12,   // 32-bit length, ASCII text
    vaNil = 13,
    vaCollection = 14, // items, each vaList ... vaNull (optionally preceded by an integer), then vaNull
    vaInt64 = 19,
    vaUTF8String = 20, // 32-bit length, UTF-8 text
};

// Objects, collections and lists nested deeper than this are refused, on reading and writing.
constexpr int MaxStreamNesting = 64;

// Writes Root as the root object of a binary component stream at the stream's position.
// EWriteError when the object cannot be represented (nesting too deep, a name too long).
void WriteComponentStream(TStream &Stream, const TPersistent &Root);

// Reads a binary component stream from the stream's position into the existing Root: the
// stored class must be registered ("Class %s not found") and be Root's class. Properties are
// applied in stream order, so an error leaves those before it applied. Errors: EReadError
// "Invalid stream format", "Stream read error" (truncated input) and
// "Error reading <root>.<path>: <reason>" for properties that do not fit the object.
void ReadComponentStream(TStream &Stream, TPersistent &Root);

// Converts one object from the binary form at Input's position to the text form (CR LF line
// ends, two blanks of indentation per level). Input is left after the object.
void ObjectBinaryToText(TStream &Input, TStream &Output);

// Converts one object from the text form at Input's position to the binary form.
// Syntax errors raise EReadError "<reason> on line <n>"; text that does not start with an
// object raises EReadError "Invalid stream format".
void ObjectTextToBinary(TStream &Input, TStream &Output);
