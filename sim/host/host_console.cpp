// ConOut of the host platform: an 80x25 text screen with a cursor and per-cell attributes. Every
// call is an event.
#include "sim/host/host_state.h"

namespace sim {
namespace {

void Log(HostPlatform::State &s, ConsoleOp op, uint64_t a = 0, uint64_t b = 0) {
  s.events.emplace_back(ConsoleCall{op, a, b, {}});
}

void BlankRow(HostPlatform::State &s, int row) {
  for (int c = 0; c < kScreenColumns; ++c) {
    s.screen[row][c] = u' ';
    s.attributes[row][c] = static_cast<uint8_t>(s.mode.Attribute);
  }
}

void LineFeed(HostPlatform::State &s) {
  if (s.mode.CursorRow + 1 < kScreenRows) {
    ++s.mode.CursorRow;
    return;
  }
  for (int r = 1; r < kScreenRows; ++r)
    for (int c = 0; c < kScreenColumns; ++c) {
      s.screen[r - 1][c] = s.screen[r][c];
      s.attributes[r - 1][c] = s.attributes[r][c];
    }
  BlankRow(s, kScreenRows - 1);
}

void Put(HostPlatform::State &s, char16_t ch) {
  switch (ch) {
  case u'\r':
    s.mode.CursorColumn = 0;
    return;
  case u'\n':
    LineFeed(s);
    return;
  case u'\b':
    if (s.mode.CursorColumn > 0)
      --s.mode.CursorColumn;
    return;
  default:
    break;
  }
  s.screen[s.mode.CursorRow][s.mode.CursorColumn] = ch;
  s.attributes[s.mode.CursorRow][s.mode.CursorColumn] = static_cast<uint8_t>(s.mode.Attribute);
  if (++s.mode.CursorColumn == kScreenColumns) {
    s.mode.CursorColumn = 0;
    LineFeed(s);
  }
}

void Clear(HostPlatform::State &s) {
  for (int r = 0; r < kScreenRows; ++r)
    BlankRow(s, r);
  s.mode.CursorColumn = 0;
  s.mode.CursorRow = 0;
}

EFI_STATUS EFIAPI Reset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/,
                        BOOLEAN /*extendedVerification*/) {
  HostPlatform::State &s = ActiveState();
  s.mode.Attribute = 0x07;
  Clear(s);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, const CHAR16 *text) {
  if (text == nullptr)
    return EFI_INVALID_PARAMETER;
  HostPlatform::State &s = ActiveState();
  for (const CHAR16 *ch = text; *ch != 0; ++ch)
    Put(s, *ch);
  s.events.emplace_back(ConsoleCall{ConsoleOp::OutputString, 0, 0, text});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, const CHAR16 *text) {
  return text ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, UINTN mode, UINTN *columns,
                            UINTN *rows) {
  if (columns == nullptr || rows == nullptr)
    return EFI_INVALID_PARAMETER;
  if (mode != 0)
    return EFI_UNSUPPORTED;
  *columns = kScreenColumns;
  *rows = kScreenRows;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, UINTN mode) {
  if (mode != 0)
    return EFI_UNSUPPORTED;
  Clear(ActiveState());
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, UINTN attribute) {
  HostPlatform::State &s = ActiveState();
  Log(s, ConsoleOp::SetAttribute, attribute);
  if (attribute > 0x7F)
    return EFI_UNSUPPORTED;
  s.mode.Attribute = static_cast<int32_t>(attribute);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/) {
  HostPlatform::State &s = ActiveState();
  Log(s, ConsoleOp::ClearScreen);
  Clear(s);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, UINTN column,
                                    UINTN row) {
  HostPlatform::State &s = ActiveState();
  Log(s, ConsoleOp::SetCursorPosition, column, row);
  if (column >= kScreenColumns || row >= kScreenRows)
    return EFI_UNSUPPORTED;
  s.mode.CursorColumn = static_cast<int32_t>(column);
  s.mode.CursorRow = static_cast<int32_t>(row);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, BOOLEAN visible) {
  HostPlatform::State &s = ActiveState();
  Log(s, ConsoleOp::EnableCursor, visible ? 1 : 0);
  s.mode.CursorVisible = visible ? 1 : 0;
  return EFI_SUCCESS;
}

} // namespace

void InstallConsole(HostPlatform::State &s) {
  s.conOut.Reset = Reset;
  s.conOut.OutputString = OutputString;
  s.conOut.TestString = TestString;
  s.conOut.QueryMode = QueryMode;
  s.conOut.SetMode = SetMode;
  s.conOut.SetAttribute = SetAttribute;
  s.conOut.ClearScreen = ClearScreen;
  s.conOut.SetCursorPosition = SetCursorPosition;
  s.conOut.EnableCursor = EnableCursor;
  s.conOut.Mode = &s.mode;
  s.mode.MaxMode = 1;
  s.mode.Mode = 0;
  s.mode.Attribute = 0x07; // light grey on black, as the shell leaves it
  s.mode.CursorVisible = 1;
  Clear(s);
}

} // namespace sim
