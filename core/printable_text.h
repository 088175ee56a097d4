// Text that arrives from outside the program (a printer's device ID, a
// network library's search entry, a hand-edited settings file, the port
// journal) is cleaned before it is stored or shown: a line break in a model
// name would otherwise start a new line of the settings file, and control or
// direction characters would change what a message box says.
#pragma once

#include <cstddef>
#include <string>

// False for the characters that are not drawn as themselves: C0 and C1
// controls, DEL, line and paragraph separators, the direction and
// zero-width format characters, the byte-order mark, and surrogate halves
// (a whole pair is kept by KeepPrintable and PrintableText).
bool IsPrintableUnit(char32_t c);

// Drops every unit that is not printable from the zero-terminated wide text
// in place; a surrogate half without its partner goes as well.
void KeepPrintable(wchar_t* text);
std::u16string PrintableText(const std::u16string& text);

// The same for ANSI text of the system code page, byte by byte: bytes below
// 0x20 and 0x7F go. Bytes from 0x80 up belong to the code page and are kept;
// the wide copy made from them is cleaned again.
void KeepPrintableAnsi(char* text);
