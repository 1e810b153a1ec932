#include "Measurements.h"
#include "BoardOutput.h"
#include <Protocol/LoadedImage.h>

UINT64 ReadTsc(VOID) { return __builtin_ia32_rdtsc(); }

UINT64 MeasureTscPer100Ms(EFI_BOOT_SERVICES *BootServices) {
  UINT64 Start = ReadTsc();
  BootServices->Stall(100000);
  return ReadTsc() - Start;
}

UINT64 MeasureBareVendorScan(CONST BOARD_ROOT_BRIDGES *Bridges, UINTN *Present, UINTN *Reads) {
  *Present = 0;
  *Reads = 0;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Route[256];
  FindAcceptingRootBridges(Bridges, Route);
  UINT64 Start = ReadTsc();
  for (UINT32 Bus = 0; Bus < 256; Bus++) {
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridge = Route[Bus];
    if (RootBridge == NULL) {
      continue;
    }
    for (UINT32 Device = 0; Device < 32; Device++) {
      for (UINT32 Function = 0; Function < 8; Function++) {
        UINT16 VendorId = 0xFFFF;
        RootBridge->Pci.Read(RootBridge, EfiPciWidthUint16,
                             EfiPciAddress((UINT8)Bus, (UINT8)Device, (UINT8)Function, 0), 1, &VendorId);
        (*Reads)++;
        if (VendorId != 0xFFFF) {
          (*Present)++;
        }
      }
    }
  }
  return *Reads != 0 ? ReadTsc() - Start : 0;
}

VOID ReportLoadedImages(EFI_BOOT_SERVICES *BootServices, EFI_HANDLE Roster, EFI_HANDLE Hotlatch, EFI_HANDLE Reporter,
                        CONST CHAR8 *ReporterName) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &gEfiLoadedImageProtocolGuid, NULL, &Count, &Handles))) {
    BoardLine("BOARD LOADED-SUMMARY images=0x0");
    return;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_LOADED_IMAGE_PROTOCOL *Image = NULL;
    if (EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &gEfiLoadedImageProtocolGuid, (VOID **)&Image)) ||
        Image == NULL) {
      continue;
    }
    BoardLineStart("BOARD LOADED");
    BoardAppendField("size", Image->ImageSize);
    BoardAppendField("codetype", (UINT64)Image->ImageCodeType);
    BoardAppendField("base", (UINT64)(UINTN)Image->ImageBase);
    BoardAppendText(" ours=");
    if (Handles[Index] == Roster) {
      BoardAppendText("Roster.efi");
    } else if (Handles[Index] == Hotlatch) {
      BoardAppendText("Hotlatch.efi");
    } else if (Handles[Index] == Reporter) {
      BoardAppendText(ReporterName);
    } else {
      BoardAppendText("-");
    }
    BoardLineEnd();
  }
  BoardLineStart("BOARD LOADED-SUMMARY");
  BoardAppendField("images", Count);
  BoardLineEnd();
  BootServices->FreePool(Handles);
}

VOID ReportMeasurements(EFI_BOOT_SERVICES *BootServices, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                        EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName) {
  BoardLineStart("BOARD TSC");
  BoardAppendField("per100ms", MeasureTscPer100Ms(BootServices));
  BoardLineEnd();
  UINTN Present = 0;
  UINTN Reads = 0;
  UINT64 Ticks = MeasureBareVendorScan(Bridges, &Present, &Reads);
  BoardLineStart("BOARD SCAN");
  BoardAppendField("reads", Reads);
  BoardAppendField("present", Present);
  BoardAppendField("ticks", Ticks);
  BoardLineEnd();
  ReportLoadedImages(BootServices, Roster, Hotlatch, Reporter, ReporterName);
}
