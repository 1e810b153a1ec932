// The IPMI KCS system interface (IPMI v2.0, section 9): the status register's bits and the
// control codes a host writes to the command register or, for READ, to the data register.
#pragma once
#include "../Base.h"

// Status register (read at the command/status address).
#define KCS_STATUS_OBF 0x01  // the BMC has put a byte in the output data register
#define KCS_STATUS_IBF 0x02  // the host's last byte has not been taken yet
#define KCS_STATUS_SMS_ATN 0x04
#define KCS_STATUS_COMMAND 0x08  // the last write went to the command register
#define KCS_STATUS_STATE_MASK 0xC0
#define KCS_STATE_IDLE 0x00
#define KCS_STATE_READ 0x40
#define KCS_STATE_WRITE 0x80
#define KCS_STATE_ERROR 0xC0
#define KCS_STATE(Status) ((UINT8)((Status)&KCS_STATUS_STATE_MASK))

// Control codes.
#define KCS_CONTROL_GET_STATUS_ABORT 0x60
#define KCS_CONTROL_WRITE_START 0x61
#define KCS_CONTROL_WRITE_END 0x62
#define KCS_CONTROL_READ 0x68

// Status codes the BMC returns after GET_STATUS/ABORT.
#define KCS_ERROR_NONE 0x00
#define KCS_ERROR_ABORTED 0x01
#define KCS_ERROR_ILLEGAL_CONTROL_CODE 0x02
#define KCS_ERROR_LENGTH 0x06
#define KCS_ERROR_UNSPECIFIED 0xFF

// Where QEMU's isa-ipmi-kcs and most boards put the interface when nothing says otherwise.
#define KCS_DEFAULT_DATA_PORT 0x0CA2
#define KCS_DEFAULT_REGISTER_SPACING 1
