#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that came from outside (a server's answer, a name in a reply) made ready for display as
// UTF-8. The bytes are taken piece by piece, a piece being what lies between two `separator`
// bytes (a line, a label): a piece that is valid UTF-8 is shown as it is, any other piece byte by
// byte as Latin-1. So a text in a legacy encoding loses no byte and shows no replacement
// character, and one odd piece does not turn the rest of an answer into Latin-1.
std::string TextFromOutside(std::string_view bytes, char separator);

// The same, with every control character shown in the \DDD form of DNS presentation (the byte's
// value in three decimal digits) and a backslash as "\\", so the text cannot start a line of its
// own or pass for an escape. Control characters are C0, DEL, C1 (bytes 0x80 to 0x9F of a Latin-1
// piece, U+0080 to U+009F of a UTF-8 one) and the line and paragraph separators U+2028 and
// U+2029; a UTF-8 character among them is shown byte by byte.
std::string EscapedTextFromOutside(std::string_view bytes, char separator);

// Length of the well-formed UTF-8 sequence at the start of `bytes` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when there is none.
size_t Utf8SequenceLength(std::string_view bytes);

// Drops an incomplete UTF-8 sequence from the end of `text`, such as a bounded format leaves
// when its cut falls inside a character.
void DropCutCharacter(std::string& text);
