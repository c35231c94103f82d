#include "app/operands.h"

#include "app/access_code.h"

bool IsSwitch(const char *operand, char letter) {
  if (operand[0] != '/')
    return false;
  char c = operand[1];
  if (c >= 'A' && c <= 'Z')
    c = static_cast<char>(c - 'A' + 'a');
  return c == letter;
}

int32_t OperandValue(const char *operand) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(operand);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  while (*p == '0')
    ++p;
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    uint32_t next = value * 10u + static_cast<uint32_t>(*p - '0');
    if (static_cast<int32_t>(next) <= static_cast<int32_t>(value))
      return negative ? INT32_MIN : INT32_MAX;
    value = next;
  }
  return negative ? static_cast<int32_t>(0u - value) : static_cast<int32_t>(value);
}

bool MatchesAccessCode(const char *operand) {
  // Digit by digit against separate constants, so the code never sits in the image as one string.
  return operand[0] == kAccessDigit0 && operand[1] == kAccessDigit1 &&
         operand[2] == kAccessDigit2 && operand[3] == kAccessDigit3 &&
         operand[4] == kAccessDigit4 && operand[5] == kAccessDigit5 &&
         operand[6] == kAccessDigit6 && operand[7] == kAccessDigit7 &&
         operand[8] == kAccessDigit8 && operand[9] == kAccessDigit9 &&
         operand[10] == kAccessDigit10;
}
