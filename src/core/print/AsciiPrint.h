#pragma once
// The raw channel to a POS printer: escape-sequence settings turned into
// bytes, and receipt text turned into the printer's character set, one byte
// per character, in blocks of at most 8,192 bytes that each end with a zero
// byte. Command bytes and text take the same block form.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace kv::print {

// A number in an escape-sequence text that is not an integer.
class EscapeSequenceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Conversion codes of the setting EscCir ("Konverzija teksta").
enum Konverzija : int {
    kBezKonverzije = 0,  // the ANSI code page, unchanged
    kKonvCP852 = 1,      // converts exactly like kKonvCP855
    kKonvCP855 = 2,      // Cyrillic in code page 855, Latin letters transliterated to Cyrillic
    kKonvYUSCII = 3,     // 7-bit Yugoslav ASCII, Cyrillic transliterated to Latin first
    kKonvASCII = 4,      // plain ASCII, diacritics dropped
};

// The stored text of EscCir: an integer, spaces around it allowed. Anything
// else, or a code outside 0 to 4, converts nothing (kBezKonverzije).
Konverzija ParseKonverzija(std::string_view stored);

// Largest block handed to the printer, and so the most text one block holds
// (room is kept for the zero byte and the line end).
inline constexpr std::size_t kMaxBlockBytes = 8192;
inline constexpr std::size_t kMaxBlockText = kMaxBlockBytes - 2;

// "#27#64" -> "\x1B\x40". Each "#" is followed by a decimal number or a "$"
// hexadecimal one, taken modulo 256. Spaces around the whole text and around
// each number are ignored; text before the first "#" is dropped. Throws
// EscapeSequenceError for a piece that is not an integer.
std::string KonvKod(std::string_view Ulaz);

// UTF-8 text in the printer's character set for conversion code `Konv`:
// exactly one byte per character. A character the chosen table does not list
// gets its byte in `ansiCodePage` ("?" when that code page lacks it). Any
// value of Konv other than 1 to 4 means no conversion.
std::string ConvertForPrinter(std::string_view Red, int Konv,
                              const std::string& ansiCodePage = platform::FileCodePage());

// The blocks one TextPrint sends, in order: the converted text, a zero byte,
// and with NewLine an LF after the zero byte of the last block. A text longer
// than kMaxBlockText characters is split into several blocks (never cut);
// an empty text still gives one block.
std::vector<std::string> TextPrintBlocks(std::string_view Red, int Konv, bool NewLine,
                                         const std::string& ansiCodePage = platform::FileCodePage());

// What the printer receives from TextPrintBlocks: the blocks one after the other.
std::string TextPrint(std::string_view Red, int Konv, bool NewLine,
                      const std::string& ansiCodePage = platform::FileCodePage());

// Command bytes as one block: the bytes exactly as given, then the zero byte.
// A command cannot be split (a zero byte inside it would change its meaning),
// so more than kMaxBlockBytes - 1 bytes throw std::length_error.
std::string CommandBlock(std::string_view bytes);

}  // namespace kv::print
