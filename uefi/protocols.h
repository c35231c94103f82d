// The UEFI tables and protocols the tool and its rigs use. Members we never call are void *,
// but every member is present and in order so the offsets match the firmware's.
#pragma once

#include "uefi/efi_types.h"

struct EFI_TABLE_HEADER {
  uint64_t Signature;
  uint32_t Revision;
  uint32_t HeaderSize;
  uint32_t CRC32;
  uint32_t Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

struct SIMPLE_TEXT_OUTPUT_MODE {
  int32_t MaxMode;
  int32_t Mode;
  int32_t Attribute;
  int32_t CursorColumn;
  int32_t CursorRow;
  BOOLEAN CursorVisible;
};

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  using Reset_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);
  using String_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *);
  using QueryMode_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN *,
                                           UINTN *);
  using SetMode_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  using SetAttribute_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  using ClearScreen_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *);
  using SetCursorPosition_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN);
  using EnableCursor_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);

  Reset_t Reset;
  String_t OutputString;
  String_t TestString;
  QueryMode_t QueryMode;
  SetMode_t SetMode;
  SetAttribute_t SetAttribute;
  ClearScreen_t ClearScreen;
  SetCursorPosition_t SetCursorPosition;
  EnableCursor_t EnableCursor;
  SIMPLE_TEXT_OUTPUT_MODE *Mode;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetAttribute) == 40);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, ClearScreen) == 48);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetCursorPosition) == 56);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, EnableCursor) == 64);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode) == 72);

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *RaiseTPL;
  void *RestoreTPL;
  void *AllocatePages;
  void *FreePages;
  void *GetMemoryMap;
  EFI_STATUS(EFIAPI *AllocatePool)(uint32_t PoolType, UINTN Size, void **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(void *Buffer);
  void *CreateEvent;
  void *SetTimer;
  void *WaitForEvent;
  void *SignalEvent;
  void *CloseEvent;
  void *CheckEvent;
  EFI_STATUS(EFIAPI *InstallProtocolInterface)
  (EFI_HANDLE *Handle, const EFI_GUID *Protocol, uint32_t InterfaceType, void *Interface);
  void *ReinstallProtocolInterface;
  void *UninstallProtocolInterface;
  EFI_STATUS(EFIAPI *HandleProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, void **Interface);
  void *Reserved;
  void *RegisterProtocolNotify;
  void *LocateHandle;
  void *LocateDevicePath;
  void *InstallConfigurationTable;
  void *LoadImage;
  void *StartImage;
  void *Exit;
  void *UnloadImage;
  void *ExitBootServices;
  void *GetNextMonotonicCount;
  EFI_STATUS(EFIAPI *Stall)(UINTN Microseconds);
  void *SetWatchdogTimer;
  void *ConnectController;
  void *DisconnectController;
  void *OpenProtocol;
  void *CloseProtocol;
  void *OpenProtocolInformation;
  void *ProtocolsPerHandle;
  EFI_STATUS(EFIAPI *LocateHandleBuffer)
  (uint32_t SearchType, const EFI_GUID *Protocol, void *SearchKey, UINTN *NoHandles,
   EFI_HANDLE **Buffer);
  EFI_STATUS(EFIAPI *LocateProtocol)
  (const EFI_GUID *Protocol, void *Registration, void **Interface);
  void *InstallMultipleProtocolInterfaces;
};
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248);
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 280);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallMultipleProtocolInterfaces) == 328);

// Only the variable services are called; they keep the key-area backup across a power cut.
struct EFI_RUNTIME_SERVICES {
  using GetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t *Attributes, UINTN *DataSize, void *Data);
  using SetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t Attributes, UINTN DataSize, const void *Data);

  EFI_TABLE_HEADER Hdr;
  void *GetTime;
  void *SetTime;
  void *GetWakeupTime;
  void *SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  GetVariable_t GetVariable;
  void *GetNextVariableName;
  SetVariable_t SetVariable;
  void *GetNextHighMonotonicCount;
  void *ResetSystem;
  void *UpdateCapsule;
  void *QueryCapsuleCapabilities;
  void *QueryVariableInfo;
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72);
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetNextVariableName) == 80);
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetVariable) == 88);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104);
static_assert(offsetof(EFI_RUNTIME_SERVICES, QueryVariableInfo) == 128);
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136);

// Variable attributes.
constexpr uint32_t EFI_VARIABLE_NON_VOLATILE = 0x1;
constexpr uint32_t EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x2;
constexpr uint32_t EFI_VARIABLE_RUNTIME_ACCESS = 0x4;

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  uint32_t FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  void *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  void *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);

struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  void *FilePath;
  void *Reserved;
  uint32_t LoadOptionsSize;
  void *LoadOptions;
  void *ImageBase;
  uint64_t ImageSize;
  uint32_t ImageCodeType;
  uint32_t ImageDataType;
  void *Unload;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptions) == 56);
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96);

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
};
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8);

// The interface older shells install on the image handle instead.
struct EFI_SHELL_INTERFACE {
  EFI_HANDLE ImageHandle;
  void *Info;
  CHAR16 **Argv;
  UINTN Argc;
  CHAR16 **RedirArgv;
  UINTN RedirArgc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
  void *ArgInfo;
  BOOLEAN EchoOn;
};
static_assert(offsetof(EFI_SHELL_INTERFACE, Argv) == 16);
static_assert(offsetof(EFI_SHELL_INTERFACE, Argc) == 24);

// SMBus host controller, as the platform initialization interfaces define it.
using EFI_SMBUS_DEVICE_ADDRESS = UINTN; // low 7 bits: the slave address
enum EFI_SMBUS_OPERATION : uint32_t {
  EfiSmbusQuickRead = 0,
  EfiSmbusQuickWrite = 1,
  EfiSmbusReceiveByte = 2,
  EfiSmbusSendByte = 3,
  EfiSmbusReadByte = 4,
  EfiSmbusWriteByte = 5,
};

struct EFI_SMBUS_HC_PROTOCOL {
  EFI_STATUS(EFIAPI *Execute)
  (const EFI_SMBUS_HC_PROTOCOL *This, EFI_SMBUS_DEVICE_ADDRESS SlaveAddress, UINTN Command,
   EFI_SMBUS_OPERATION Operation, BOOLEAN PecCheck, UINTN *Length, void *Buffer);
  void *ArpDevice;
  void *GetArpMap;
  void *Notify;
};
static_assert(sizeof(EFI_SMBUS_HC_PROTOCOL) == 32);

inline constexpr EFI_GUID kSmbusHcProtocolGuid = {
    0xE49D33ED, 0x513D, 0x4634, {0xB6, 0x98, 0x6F, 0x55, 0xAA, 0x75, 0x1C, 0x1B}};
inline constexpr EFI_GUID kShellParametersProtocolGuid = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
inline constexpr EFI_GUID kShellInterfaceGuid = {
    0x47C7B223, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID kLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
