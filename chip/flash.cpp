// The chip's flash controller, driven one register write at a time. Each operation is one list
// of literal writes, in the order the chip needs them. What the registers do, as far as we know
// (the simulated chip, sim/bridge_chip.h, holds the tool to the same model):
//
//   bank 0x80 (selected by 0xFF := 0x80; 0xEE := 0x01 first gives the host access)
//   0x5A  command; every command is followed by 0x82, idle, before the next:
//           0x86  set the write-enable latch (needed by erase and program)
//           0x8A  clear the latch
//           0x83  erase the whole block at the address (with the latch set and 0x51 configured)
//           0xA2  empty the 16-byte data FIFO
//           0x92  execute the mode held in 0x5E
//   0x5E  mode for 0x92:
//           0xC0  configure: take the byte last written to 0x59 (0x51 enables program and erase)
//           0xEF  load: bytes written to 0x59 go into the FIFO (not executed)
//           0xE0  program the FIFO at the address (with the latch set)
//           0x6F  set the read pointer to the address
//   0x58  0x01: reads of 0x5F stream flash bytes from the read pointer; 0x00 while configuring
//   0x59  data in: a FIFO byte, or the configuration byte
//   0x5B, 0x5C, 0x5D  flash address, bits 23-16, 15-8, 7-0
//   0x5F  data out: the flash byte at the read pointer, which then advances (0xFF while an erase
//         keeps the flash busy)
//   bank 0x90, register 0x02: 0xDF then 0xFF resets the controller: FIFO empty, latch clear, the
//         configuration kept. Each flash routine starts with it (FlashPreamble).
#include "chip/flash.h"

#include "chip/registers.h"

namespace {

constexpr uint8_t kAddressHigh = 0x5B;
constexpr uint8_t kAddressMiddle = 0x5C;
constexpr uint8_t kAddressLow = 0x5D;
constexpr uint8_t kDataIn = 0x59;
constexpr uint8_t kDataOut = 0x5F;

constexpr RegisterWrite kFlashPreamble[] = {
    {0xFF, 0x80}, {0xEE, 0x01}, {0xFF, 0x90}, {0x02, 0xDF},
    {0x02, 0xFF}, {0xFF, 0x80}, {0x5A, 0x86}, {0x5A, 0x82},
};
constexpr RegisterWrite kFlashPostamble[] = {{0x5A, 0x8A}, {0x5A, 0x82}};
constexpr RegisterWrite kConfigPara[] = {
    {0xFF, 0x80}, {0xEE, 0x01}, {0x5A, 0x82}, {0x5E, 0xC0},
    {0x58, 0x00}, {0x59, 0x51}, {0x5A, 0x92}, {0x5A, 0x82},
};
constexpr RegisterWrite kBlockErase[] = {
    {0xFF, 0x80}, {0xEE, 0x01}, {0x5A, 0x82}, {0x5A, 0x86}, {0x5A, 0x82},
    {0x5B, 0x00}, {0x5C, 0x00}, {0x5D, 0x00}, {0x5A, 0x83}, {0x5A, 0x82},
};
constexpr RegisterWrite kReadPageOpen[] = {{0x5E, 0x6F}, {0x5A, 0xA2}, {0x5A, 0x82}};
constexpr RegisterWrite kReadPageStart[] = {{0x5A, 0x92}, {0x5A, 0x82}, {0x58, 0x01}};
constexpr RegisterWrite kFirmwarePageOpen[] = {{0x5A, 0x86}, {0x5A, 0x82}, {0x5E, 0xEF},
                                               {0x5A, 0xA2}, {0x5A, 0x82}, {0x58, 0x01}};
constexpr RegisterWrite kKeyPageOpen[] = {{0x5E, 0xEF}, {0x5A, 0xA2}, {0x5A, 0x82}, {0x58, 0x01}};
constexpr RegisterWrite kPageProgram[] = {{0x5E, 0xE0}, {0x5A, 0x92}, {0x5A, 0x82}};

// Bytes sent after the end of a short last page: the value of erased flash.
constexpr uint8_t kFillByte = 0xFF;

void WriteAddress(uint32_t address) {
  WriteRegister(kAddressHigh, static_cast<uint8_t>(address >> 16));
  WriteRegister(kAddressMiddle, static_cast<uint8_t>(address >> 8));
  WriteRegister(kAddressLow, static_cast<uint8_t>(address));
}

// The first half of programming a page: the data go into the controller before the address.
void LoadPage(const uint8_t (&data)[kFlashPageSize], PageForm form) {
  if (form == PageForm::Firmware)
    WriteRegisters(kFirmwarePageOpen);
  else
    WriteRegisters(kKeyPageOpen);
  for (uint8_t byte : data)
    WriteRegister(kDataIn, byte);
}

void CommitPage(uint32_t address) {
  WriteAddress(address);
  WriteRegisters(kPageProgram);
}

// Copies up to a page of `source` into `page`, filling the rest.
void FillPage(uint8_t (&page)[kFlashPageSize], const uint8_t *source, uint32_t available) {
  for (uint32_t i = 0; i < kFlashPageSize; ++i)
    page[i] = i < available ? source[i] : kFillByte;
}

// Byte offset of page `page` in a buffer of whole pages.
size_t PageOffset(uint32_t page) {
  return static_cast<size_t>(page) * kFlashPageSize;
}

uint8_t BytesOnPage(uint32_t length, uint32_t page) {
  uint32_t remaining = length - page * kFlashPageSize;
  return static_cast<uint8_t>(remaining < kFlashPageSize ? remaining : kFlashPageSize);
}

} // namespace

void FlashPreamble() {
  WriteRegisters(kFlashPreamble);
}

void FlashPostamble() {
  WriteRegisters(kFlashPostamble);
}

void ConfigPara() {
  WriteRegisters(kConfigPara);
}

void BlockErase() {
  WriteRegisters(kBlockErase);
}

void ReadPage(uint32_t address, uint8_t count, uint8_t *destination) {
  WriteRegisters(kReadPageOpen);
  WriteAddress(address);
  WriteRegisters(kReadPageStart);
  for (uint8_t i = 0; i < count; ++i)
    destination[i] = ReadRegister(kDataOut);
}

void ClearKeyMaterial(uint8_t *buffer, uint32_t size) {
  volatile uint8_t *p = buffer;
  for (uint32_t i = 0; i < size; ++i)
    p[i] = 0;
}

void ProgramPage(uint32_t address, const uint8_t (&data)[kFlashPageSize], PageForm form) {
  LoadPage(data, form);
  CommitPage(address);
}

void SaveHdcpKeyFromFlash(uint8_t (&destination)[kHdcpKeySize]) {
  FlashPreamble();
  for (uint32_t p = 0; p < kHdcpKeyPages; ++p)
    ReadPage(kHdcpKeyAddress + p * kFlashPageSize, BytesOnPage(kHdcpKeySize, p),
             destination + PageOffset(p));
  FlashPostamble();
}

void WriteHdcpKeyToFlash(const uint8_t (&keyArea)[kHdcpKeySize]) {
  FlashPreamble();
  uint8_t page[kFlashPageSize];
  for (uint32_t p = 0; p < kHdcpKeyPages; ++p) {
    FillPage(page, keyArea + PageOffset(p), BytesOnPage(kHdcpKeySize, p));
    ProgramPage(kHdcpKeyAddress + p * kFlashPageSize, page, PageForm::KeyArea);
  }
  ClearKeyMaterial(page, kFlashPageSize);
  FlashPostamble();
}

void WriteFirmwareToFlash(const uint8_t *image, uint16_t length, PageLoadedHook onPageLoaded) {
  const uint16_t pages = PageCount(length);
  FlashPreamble();
  for (uint16_t p = 0; p < pages; ++p) {
    uint8_t page[kFlashPageSize];
    FillPage(page, image + PageOffset(p), BytesOnPage(length, p));
    LoadPage(page, PageForm::Firmware);
    onPageLoaded(p, pages);
    CommitPage(static_cast<uint32_t>(p) * kFlashPageSize);
  }
  FlashPostamble();
}

void ReadFirmwareFromFlash(uint16_t length, uint8_t (&destination)[kReadBackBufferSize]) {
  // The catalogue's images fit the buffer (checked at build time); never read past it anyway.
  if (length > kReadBackBufferSize)
    length = kReadBackBufferSize;
  const uint16_t pages = PageCount(length);
  FlashPreamble();
  for (uint16_t p = 0; p < pages; ++p)
    ReadPage(static_cast<uint32_t>(p) * kFlashPageSize, BytesOnPage(length, p),
             destination + PageOffset(p));
  FlashPostamble();
}
