// The management transport the drivers deliver to: it keeps every request it is handed
// (which member, header, length, bytes) and answers success with a one-byte response.
#pragma once
#include <Uefi.h>
#include <Protocol/ManagementTransport.h>

// Room for one full inventory image and every SATA_INFO message many times over; a
// request that does not fit is counted, never written past the pool.
#define BMC_RECORD_MAX 64
#define BMC_DATA_POOL_SIZE 0x40000

MANAGEMENT_TRANSPORT_PROTOCOL *BmcRecorderProtocol(VOID);
// Prints each request as "BMC SendLargeCommand header=0x5AC8 length=<decimal> data=<hex>"
// or "BMC SendCommand ...", in the order received, then a count line.
VOID BmcRecorderReport(VOID);
