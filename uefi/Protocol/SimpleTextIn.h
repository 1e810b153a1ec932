#pragma once
#include "SimpleTextInputEx.h"

inline constexpr EFI_GUID gEfiSimpleTextInProtocolGuid = {
    0x387477C1, 0x69C7, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  EFI_STATUS(EFIAPI *Reset)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, BOOLEAN ExtendedVerification);
  EFI_STATUS(EFIAPI *ReadKeyStroke)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key);
  EFI_EVENT WaitForKey;
};
static_assert(sizeof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL) == 24, "text input layout");
static_assert(OFFSET_OF(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, WaitForKey) == 16, "text input layout");
EFI_PROTOCOL_GUID(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, gEfiSimpleTextInProtocolGuid);
