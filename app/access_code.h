// The access code's digits, given by the build one character at a time.
#pragma once

#if !defined(PANELUP_ACCESS_DIGIT_0) || !defined(PANELUP_ACCESS_DIGIT_10)
#error "the build must define PANELUP_ACCESS_DIGIT_0 .. PANELUP_ACCESS_DIGIT_10"
#endif

constexpr char kAccessDigit0 = PANELUP_ACCESS_DIGIT_0;
constexpr char kAccessDigit1 = PANELUP_ACCESS_DIGIT_1;
constexpr char kAccessDigit2 = PANELUP_ACCESS_DIGIT_2;
constexpr char kAccessDigit3 = PANELUP_ACCESS_DIGIT_3;
constexpr char kAccessDigit4 = PANELUP_ACCESS_DIGIT_4;
constexpr char kAccessDigit5 = PANELUP_ACCESS_DIGIT_5;
constexpr char kAccessDigit6 = PANELUP_ACCESS_DIGIT_6;
constexpr char kAccessDigit7 = PANELUP_ACCESS_DIGIT_7;
constexpr char kAccessDigit8 = PANELUP_ACCESS_DIGIT_8;
constexpr char kAccessDigit9 = PANELUP_ACCESS_DIGIT_9;
constexpr char kAccessDigit10 = PANELUP_ACCESS_DIGIT_10;
