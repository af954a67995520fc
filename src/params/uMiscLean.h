// The bottom layer of the framework: values to text, text tests, hexadecimal and URL
// encodings, method references as text, date-time texts. Depends on nothing else of the
// system. Text tests that ignore case fold only the ASCII letters; every other character
// compares exactly. All functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32api_types.h"
#include "rtl/Exception.h"
#include "rtl/Variant.h"

// ---- ASCII case folding ----------------------------------------------------------------

char16_t CharLowerAscii(char16_t aChar);
char16_t CharUpperAscii(char16_t aChar);
Text TextLowerAscii(TextView aText);
Text TextUpperAscii(TextView aText);
// Equal when equal after folding ASCII letters.
bool TextSameIgnoreCase(TextView a, TextView b);
// <0, 0, >0 ordinal comparison after folding ASCII letters to upper case.
int TextCompareIgnoreCase(TextView a, TextView b);
// Position of aPart in aText ignoring ASCII case, or Text::npos. An empty part is at 0.
std::size_t TextFindIgnoreCase(TextView aText, TextView aPart, std::size_t aFrom = 0);

// Decimal texts of integers.
Text IntToText(std::int64_t aValue);
Text UIntToText(std::uint64_t aValue);

// ---- Values to text --------------------------------------------------------------------

// An array as BytesToHexText; anything else its standard text form (null raises
// EVariantError).
Text VariantToText(const Variant& aValue);
// VariantToText with digits grouped by three: 1234567 gives "1,234,567".
Text VariantToTextGrouped(const Variant& aValue);
// Inserts aSeparator before every group of three characters counted from the end while the
// character left of the insertion point is a digit: "-1234" gives "-1,234", "123" stays.
Text TextGroupDigits(TextView aText, char16_t aSeparator);
// Empty, null and the empty text; 0 and false are not empty.
bool VariantIsEmpty(const Variant& aValue);

// ---- Hexadecimal -----------------------------------------------------------------------

// Two lower-case hex digits per array element (an element wider than a byte keeps the first
// two digits of its hex text). Null and empty give "". Other non-array values raise
// EVariantError.
Text BytesToHexText(const Variant& aArray);
// "0x" prefix (case-sensitive) optional. Any non-hex character: the empty value. Otherwise a
// byte array of length/2 bytes; an odd last digit is ignored.
Variant HexTextToBytes(TextView aText);
std::int64_t HexTextByteCount(TextView aText);
// 0..15 for 0-9, A-F, a-f; EConvertError for any other character.
int HexDigitValue(char16_t aChar);
// "$" and upper-case hex with at least iBitCount/4 digits: IntToHexText(32, 255) = "$000000FF".
Text IntToHexText(int iBitCount, std::uint64_t aValue);
// IntToHexText with the pointer's width: "$" and 8 digits in a 32-bit build, 16 in a 64-bit
// one, so that the two halves of a method text always have the same length.
Text PointerToText(const void* aPointer);
// 0 for ""; decimal with optional sign, or hexadecimal after "$", "0x" or "0X" (up to 16
// digits, read as a 64-bit pattern). Anything else, or overflow, raises EConvertError.
std::int64_t TextToInt64(TextView aText);
// TextToInt64 truncated to pointer size.
std::uintptr_t TextToPointer(TextView aText);

// ---- Text tests and pieces -------------------------------------------------------------

// False for an empty prefix and for a prefix longer than the text.
bool TextStartsWith(TextView aText, TextView aPrefix);
bool TextStartsWithIgnoreCase(TextView aText, TextView aPrefix);
// aPart occurs in aText. An empty part gives false.
bool TextContains(TextView aPart, TextView aText, bool bCaseSensitive);
bool TextIsInList(TextView aText, const std::vector<Text>& aList, bool bCaseSensitive);
bool TextIsInListIgnoreCase(TextView aText, const std::vector<Text>& aList);
bool IntegerIsInList(std::int64_t aValue, const std::vector<std::int64_t>& aList);
// The text after the first occurrence of aPart; the whole text when aPart does not occur
// (or is empty).
Text TextAfter(TextView aPart, TextView aText);
// Character code 0 for the empty text.
char16_t TextFirstChar(TextView aText);
char16_t TextLastChar(TextView aText);
// Characters x 2.
std::int64_t WideTextByteLength(TextView aText);

// ---- URL encoding (escaping of the flex array text form) -------------------------------

// Keeps ! $ ' ( ) * - . 0-9 @ A-Z _ a-z; space becomes '+'; every other code unit below 128
// becomes %XX; code units from 128 up become the %XX of their UTF-8 bytes, each code unit on
// its own (a surrogate is encoded as its own three bytes).
Text UrlEncode(TextView aText);
// The inverse. "%%" is '%', "+" a space. A truncated or bad escape, or bytes that are no
// UTF-8, raise EConvertError with the message "EConvertError". Encoded surrogates (three
// bytes each, as UrlEncode writes them) come back as the same code units, so every text
// survives UrlEncode then UrlDecode exactly.
Text UrlDecode(TextView aText);

// ---- Method references -----------------------------------------------------------------

// A callback as a pair of code address and object address.
struct TMethod {
  void* Code = nullptr;
  void* Data = nullptr;
  friend bool operator==(const TMethod&, const TMethod&) = default;
};

// PointerToText(Code) + PointerToText(Data).
Text MethodToText(const TMethod& aMethod);
// The first half of the text is the code address, the second the object address;
// EConvertError for a malformed text.
TMethod TextToMethod(TextView aText);
bool MethodsEqual(const TMethod& a, const TMethod& b);
bool MethodIsEmpty(const TMethod& aMethod);

// ---- Dates and times -------------------------------------------------------------------

// "2024-05-06 07:08:09", independent of locale. EConvertError for a value that is no date.
Text DateTimeToText(TDateTime aValue);
// "2024-05-06 07-08-09".
Text DateTimeToFileNameText(TDateTime aValue);
// 9999-01-01 00:00, a time that never comes.
TDateTime DateTimeNever();
// The local date and time now, to the millisecond.
TDateTime Now();

// ---- Other -----------------------------------------------------------------------------

// Bytes in live allocations, for the memory watch (the process's heaps; at most 0xFFFFFFFF).
std::uint32_t MemoryAllocatedGet();

// Destroys the object, then clears the reference.
template <class T>
void ObjectFreeAndNil(T*& aObject) {
  delete aObject;
  aObject = nullptr;
}
