#include "SsvsProbe.h"
#include <Arch.h>
#include <Guid/SsvsHandlerStatistics.h>
#include <Protocol/SmmAccess2.h>
#include <VariableRequestLayout.h>
#include "BoardOutput.h"

namespace {

// The probe's own variable, non-volatile: the runner boots the board once more on the same
// flash to read back what the handler wrote (SsvsProbeReadBack).
constexpr EFI_GUID kProbeGuid = {0x5F0B7A3C, 0x2D41, 0x4E8A, {0x9B, 0x16, 0x3C, 0x70, 0xE2, 0x58, 0xA4, 0x11}};
CONST CHAR16 mProbeName[] = u"SsvsProbe";
constexpr UINT32 kProbeAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINTN kProbeNameSize = sizeof(mProbeName);
constexpr UINTN kProbePacketSize =
    sizeof(SMI_VARIABLE_PACKET_HEADER) + sizeof(VARIABLE_REQUEST_HEADER) + kProbeNameSize + 1;
constexpr UINT8 kHostileValue = 0xEE;
// A status the board cannot see (the packet is in MMRAM).
constexpr UINT64 kUnseen = ~0ULL;

enum PROBE_CASE { ProbeInMmram, ProbeStraddlesMmram, ProbeRbxDisagrees, ProbeBadSignature, ProbeOtherAh, ProbeCount };
// Each case reports as its own step, BOARD SSVSCASE_NAME.
CONST CHAR8 *CONST kCaseNames[ProbeCount] = {"_INMMRAM", "_STRADDLE", "_RBX", "_SIGNATURE", "_AH"};

EFI_PHYSICAL_ADDRESS mMmramBase = 0;
EFI_STATUS mMmramStatus = EFI_NOT_STARTED;

VOID PutBytes(UINT8 *Target, CONST VOID *Source, UINTN Size) {
  CONST UINT8 *Bytes = (CONST UINT8 *)Source;
  UINTN Index;
  for (Index = 0; Index < Size; Index++) {
    Target[Index] = Bytes[Index];
  }
}

// The packet Hotlatch would send for one byte of the probe variable.
VOID BuildPacket(UINT8 *Packet, UINT8 Value) {
  SMI_VARIABLE_PACKET_HEADER Header = {SMI_VARIABLE_PACKET_SIGNATURE, (UINT32)kProbePacketSize, EFI_UNSUPPORTED};
  VARIABLE_REQUEST_HEADER Request = {VARIABLE_REQUEST_SET_VARIABLE, VARIABLE_REQUEST_MARKER, kProbeAttributes, 1,
                                     kProbeGuid};
  PutBytes(Packet, &Header, sizeof(Header));
  PutBytes(Packet + SMI_VARIABLE_PACKET_REQUEST_OFFSET, &Request, sizeof(Request));
  PutBytes(Packet + SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET, mProbeName, kProbeNameSize);
  Packet[kProbePacketSize - 1] = Value;
}

UINT64 PacketStatus(CONST UINT8 *Packet) {
  UINT64 Status = 0;
  PutBytes((UINT8 *)&Status, Packet + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status), sizeof(Status));
  return Status;
}

// The probe variable's byte, or 0 with the status when it cannot be read.
EFI_STATUS ReadProbe(EFI_RUNTIME_SERVICES *RuntimeServices, UINT8 *Value) {
  UINTN Size = 1;
  *Value = 0;
  return RuntimeServices->GetVariable((CHAR16 *)mProbeName, (EFI_GUID *)&kProbeGuid, NULL, &Size, Value);
}

// One hostile SMI: returns the packet's status where the caller can see it (else ~0).
UINT64 RaiseHostile(PROBE_CASE Case, UINT8 *Packet) {
  BuildPacket(Packet, kHostileValue);
  switch (Case) {
    case ProbeInMmram:
      // Never dereferenced here: the address alone goes to SMM.
      ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, kProbePacketSize,
                      mMmramBase + 0x1000);
      return kUnseen;
    case ProbeStraddlesMmram:
      // Four bytes below MMRAM's edge, the rest (its status field too) inside: the handler
      // must refuse it from the registers alone, so neither side touches the memory below.
      ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, kProbePacketSize,
                      mMmramBase - 4);
      return kUnseen;
    case ProbeRbxDisagrees:
      ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH,
                      kProbePacketSize + 8, (UINT64)(UINTN)Packet);
      return PacketStatus(Packet);
    case ProbeBadSignature:
      Packet[3] = 'T';
      ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, kProbePacketSize,
                      (UINT64)(UINTN)Packet);
      return PacketStatus(Packet);
    default:
      ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH + 1,
                      kProbePacketSize, (UINT64)(UINTN)Packet);
      return PacketStatus(Packet);
  }
}

VOID ReportStatistics(EFI_RUNTIME_SERVICES *RuntimeServices, CONST CHAR8 *Line) {
  SSVS_HANDLER_STATISTICS Statistics = {};
  UINTN Size = sizeof(Statistics);
  EFI_STATUS Status;
  Status = RuntimeServices->GetVariable((CHAR16 *)SSVS_HANDLER_STATISTICS_NAME, (EFI_GUID *)&gSsvsHandlerStatisticsGuid,
                                        NULL, &Size, &Statistics);
  BoardLineStart(Line);
  BoardAppendField("status", Status);
  BoardAppendField("size", Size);
  BoardAppendField("served", Statistics.Served);
  BoardAppendField("refused", Statistics.Refused);
  BoardLineEnd();
}

}  // namespace

VOID SsvsProbeFindMmram(EFI_BOOT_SERVICES *BootServices) {
  EFI_SMM_ACCESS2_PROTOCOL *Access = NULL;
  EFI_MMRAM_DESCRIPTOR Map[8];
  UINTN MapSize = sizeof(Map);
  UINTN Index;
  mMmramStatus = BootServices->LocateProtocol((EFI_GUID *)&gEfiSmmAccess2ProtocolGuid, NULL, (VOID **)&Access);
  if (!EFI_ERROR(mMmramStatus)) {
    mMmramStatus = Access->GetCapabilities(Access, &MapSize, Map);
  }
  if (EFI_ERROR(mMmramStatus)) {
    return;
  }
  mMmramBase = ~0ULL;
  for (Index = 0; Index < MapSize / sizeof(Map[0]); Index++) {
    if (Map[Index].CpuStart < mMmramBase) {
      mMmramBase = Map[Index].CpuStart;
    }
  }
}

VOID SsvsProbeRun(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_RUNTIME_SERVICES *RuntimeServices = SystemTable->RuntimeServices;
  UINT8 *Packet = NULL;
  UINT8 Before = 0;
  UINT8 After = 0;
  UINTN Case;
  UINT64 Hostile;
  EFI_STATUS BeforeStatus;
  EFI_STATUS Unchanged;
  EFI_STATUS Status;

  ReportStatistics(RuntimeServices, "BOARD SSVS");
  BoardLineStart("BOARD SSVSPROBE");
  BoardAppendField("found", mMmramStatus);
  BoardAppendField("mmram", mMmramBase);
  BoardLineEnd();
  // Only where there is MMRAM: the SMM build.
  if (EFI_ERROR(mMmramStatus)) {
    return;
  }
  // Runtime data, as Hotlatch's packets: what SMM may read after the lock.
  Status = SystemTable->BootServices->AllocatePool(EfiRuntimeServicesData, kProbePacketSize, (VOID **)&Packet);
  if (EFI_ERROR(Status)) {
    BoardStatusLine("BOARD SSVSPROBE", Status);
    return;
  }
  for (Case = 0; Case < ProbeCount; Case++) {
    BeforeStatus = ReadProbe(RuntimeServices, &Before);
    Hostile = RaiseHostile((PROBE_CASE)Case, Packet);
    Unchanged = ReadProbe(RuntimeServices, &After);
    BoardLineStart("BOARD SSVSCASE");
    BoardAppendText(kCaseNames[Case]);
    BoardAppendField("hostile", Hostile);
    BoardAppendField("beforestatus", BeforeStatus);
    BoardAppendField("before", Before);
    BoardAppendField("afterstatus", Unchanged);
    BoardAppendField("after", After);
    // The honest packet after it: the handler still serves.
    BuildPacket(Packet, (UINT8)(Case + 1));
    ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, kProbePacketSize,
                    (UINT64)(UINTN)Packet);
    BoardAppendField("honest", PacketStatus(Packet));
    BoardAppendField("readstatus", ReadProbe(RuntimeServices, &After));
    BoardAppendField("read", After);
    BoardLineEnd();
  }
  SystemTable->BootServices->FreePool(Packet);
  ReportStatistics(RuntimeServices, "BOARD SSVSAFTER");
}

VOID SsvsProbeReadBack(EFI_RUNTIME_SERVICES *RuntimeServices) {
  UINT8 Value = 0;
  EFI_STATUS Status = ReadProbe(RuntimeServices, &Value);
  BoardLineStart("BOARD READBACK");
  BoardAppendField("status", Status);
  BoardAppendField("value", Value);
  BoardLineEnd();
  // Only the boot after the probes finds it: that boot has nothing else to do.
  if (!EFI_ERROR(Status)) {
    RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
  }
}
