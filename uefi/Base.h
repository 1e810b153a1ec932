// Base types, calling convention and helper macros shared by firmware and host builds.
// Exact-width types only: `long` is 32 bits in the image and 64 bits on the host.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

#define IN
#define OUT
#define OPTIONAL
#define CONST const
#define STATIC static

// The Microsoft x64 convention on both targets: the host simulator's tables are
// then callable from host-built drivers and from real PE32+ images alike.
#if defined(__x86_64__) && !defined(_WIN32)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

// Symbols the host loader looks up in a driver module; images export nothing.
#if defined(__x86_64__) && !defined(_WIN32)
#define IMAGE_EXPORT __attribute__((visibility("default")))
#else
#define IMAGE_EXPORT
#endif

#define MAX_BIT 0x8000000000000000ULL
#define MAX_UINTN 0xFFFFFFFFFFFFFFFFULL
#define MAX_UINT32 0xFFFFFFFFU
#define MAX_UINT16 0xFFFFU
#define MAX_UINT8 0xFFU

#define OFFSET_OF(Type, Field) __builtin_offsetof(Type, Field)
#define ARRAY_SIZE(Array) (sizeof(Array) / sizeof((Array)[0]))

static_assert(sizeof(UINTN) == 8, "x64 only");
static_assert(sizeof(CHAR16) == 2, "UCS-2 characters");
static_assert(sizeof(VOID *) == 8, "x64 only");
