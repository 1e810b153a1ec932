/** @file
  Tesk runtime pointer registration, produced by the platform. Hotlatch calls only
  RegisterPointer and UnregisterPointer, each with the address of one of its pointer
  variables; the first two members are the platform's own.
**/

#ifndef ROSTER_HOTLATCH_TESK_REGISTRATION_H_
#define ROSTER_HOTLATCH_TESK_REGISTRATION_H_

#define TESK_REGISTRATION_PROTOCOL_GUID \
  { 0x1C2E4602, 0xE3BA, 0x4B07, { 0xE3, 0xB8, 0x35, 0x55, 0xA5, 0x1C, 0x61, 0x3A } }

typedef
EFI_STATUS
(EFIAPI *TESK_POINTER_FUNCTION)(
  IN VOID  **PointerAddress
  );

typedef struct {
  VOID                     *Function0;
  VOID                     *Function1;
  TESK_POINTER_FUNCTION    RegisterPointer;
  TESK_POINTER_FUNCTION    UnregisterPointer;
} TESK_REGISTRATION_PROTOCOL;

extern EFI_GUID  gTeskRegistrationProtocolGuid;

#endif
