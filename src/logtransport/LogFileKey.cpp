#include "logtransport/LogFileKey.h"

Text LogFileKeyForm() {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  Text four;
  for (int shift = 12; shift >= 0; shift -= 4) four += kDigits[(kLogFileKeyConstant >> shift) & 0xF];
  // The four digits, then the text appended to itself twice.
  Text key = four;
  key += key;
  key += key;
  return key;
}
