// Command-line operands: switches, numeric values and the access code.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "app/access_code.h"
#include "app/operands.h"

namespace {

TEST(IsSwitch, LooksOnlyAtSlashAndTheNextCharacterInEitherCase) {
  const struct {
    const char *operand;
    char letter;
    bool want;
  } cases[] = {
      {"/s", 's', true},   {"/S", 's', true},   {"/show", 's', true}, {"/sx", 's', true},
      {"/g", 'g', true},   {"/G", 'g', true},   {"/f", 'f', true},    {"/Flash", 'f', true},
      {"s", 's', false},   {"", 's', false},    {"/", 's', false},    {"/g", 's', false},
      {"\\s", 's', false}, {" /s", 's', false}, {"//s", 's', false},  {"-s", 's', false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IsSwitch(c.operand, c.letter), c.want) << "\"" << c.operand << "\" as /" << c.letter;
}

TEST(OperandValue, ReadsAsAtoiOnThirtyTwoBits) {
  const struct {
    const char *operand;
    int32_t want;
  } cases[] = {
      {"0", 0},
      {"6", 6},
      {"258", 258},
      {"-1", -1},
      {"+5", 5},
      {"  +0012x", 12},
      {"\t\n\v\f\r 42", 42},
      {"000000000000000000042", 42},
      {"12 34", 12},
      {"0x1F", 0},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-3", 0},
      {"- 3", 0},
      // Bytes from 0x80 up are neither white space nor digits.
      {"\x85"
       "5",
       0},
      {"\xA0"
       "5",
       0},
      {"7\xB9", 7},
      // A step that does not grow the value saturates.
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"4294967297", INT32_MAX},
      {"99999999999", INT32_MAX},
      {"4772185884", INT32_MAX}, // the last step lands back on the same value
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      // A step that wraps to a larger value is kept.
      {"5000000000", 705032704},
      {"10000000000", 1410065408},
      {"-10000000000", -1410065408},
  };
  for (const auto &c : cases)
    EXPECT_EQ(OperandValue(c.operand), c.want) << "\"" << c.operand << "\"";
}

class AccessCode : public testing::Test {
protected:
  // The build's default code, copied here by hand.
  const std::string code = "20220909042";

  void SetUp() override {
    const char built[] = {kAccessDigit0, kAccessDigit1, kAccessDigit2, kAccessDigit3,
                          kAccessDigit4, kAccessDigit5, kAccessDigit6, kAccessDigit7,
                          kAccessDigit8, kAccessDigit9, kAccessDigit10};
    if (std::string(built, sizeof(built)) != code)
      GTEST_SKIP() << "built with a code other than the default";
  }
};

TEST_F(AccessCode, MatchesOnTheFirstElevenCharacters) {
  EXPECT_TRUE(MatchesAccessCode(code.c_str()));
  EXPECT_TRUE(MatchesAccessCode((code + "x").c_str()));
  EXPECT_TRUE(MatchesAccessCode((code + "123").c_str()));
  EXPECT_FALSE(MatchesAccessCode(code.substr(0, 10).c_str()));
  EXPECT_FALSE(MatchesAccessCode(""));
  EXPECT_FALSE(MatchesAccessCode((" " + code).c_str()));
  EXPECT_FALSE(MatchesAccessCode(("+" + code).c_str()));
}

TEST_F(AccessCode, RejectsOneWrongDigitInAnyPosition) {
  for (size_t i = 0; i < code.size(); ++i) {
    std::string wrong = code;
    wrong[i] = static_cast<char>('0' + (wrong[i] - '0' + 1) % 10);
    EXPECT_FALSE(MatchesAccessCode(wrong.c_str())) << wrong;
  }
}

} // namespace
