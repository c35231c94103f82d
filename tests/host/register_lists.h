// The register writes of the chip's flash protocol as the tests expect them, written out once for
// the expected lists, the chip model's driver and the bench. Literal data, never taken from the
// tool: a list copied from the tool's own would agree with any mistake in it.
#pragma once

#include <cstdint>

struct ExpectedWrite {
  uint8_t reg;
  uint8_t value;
};

// Bank 0x80, then host access.
inline constexpr ExpectedWrite kTakeAccess[] = {{0xFF, 0x80}, {0xEE, 0x01}};
// The controller reset from bank 0x90 (FIFO emptied, latch cleared), back to bank 0x80.
inline constexpr ExpectedWrite kControllerReset[] = {
    {0xFF, 0x90}, {0x02, 0xDF}, {0x02, 0xFF}, {0xFF, 0x80}};
// Write-enable latch set, then idle.
inline constexpr ExpectedWrite kSetLatch[] = {{0x5A, 0x86}, {0x5A, 0x82}};

// Every flash routine opens with access, the controller reset and the latch, and closes with the
// latch cleared.
inline constexpr ExpectedWrite kFlashPreamble[] = {{0xFF, 0x80}, {0xEE, 0x01}, {0xFF, 0x90},
                                                   {0x02, 0xDF}, {0x02, 0xFF}, {0xFF, 0x80},
                                                   {0x5A, 0x86}, {0x5A, 0x82}};
inline constexpr ExpectedWrite kFlashPostamble[] = {{0x5A, 0x8A}, {0x5A, 0x82}};

// After access: idle, the configuration mode, no streaming, the configuration byte (0x51
// enables program and erase), execute, idle.
inline constexpr ExpectedWrite kConfigure[] = {{0x5A, 0x82}, {0x5E, 0xC0}, {0x58, 0x00},
                                               {0x59, 0x51}, {0x5A, 0x92}, {0x5A, 0x82}};

// A page read: the read mode and the FIFO emptied, then the address (0x5B-0x5D, high byte
// first), then execute and streaming on; the bytes follow as reads of 0x5F.
inline constexpr ExpectedWrite kReadPageOpen[] = {{0x5E, 0x6F}, {0x5A, 0xA2}, {0x5A, 0x82}};
inline constexpr ExpectedWrite kReadPageStart[] = {{0x5A, 0x92}, {0x5A, 0x82}, {0x58, 0x01}};

// A page program: the FIFO emptied and filled (the data as writes of 0x59), then the address,
// then the program mode executed.
inline constexpr ExpectedWrite kProgramPageOpen[] = {
    {0x5E, 0xEF}, {0x5A, 0xA2}, {0x5A, 0x82}, {0x58, 0x01}};
inline constexpr ExpectedWrite kProgramPageExecute[] = {{0x5E, 0xE0}, {0x5A, 0x92}, {0x5A, 0x82}};
