/* The few Windows SDK constants that yonamito.rc uses, with the SDK's
 * values, so that the resource script can be compiled by llvm-rc on a
 * build machine that has no Windows headers. Only the compile test uses this
 * file; a real Windows build gets the SDK's own windows.h. */
#pragma once

#define LANG_JAPANESE 0x11
#define SUBLANG_DEFAULT 0x01

#define VS_VERSION_INFO 1
#define VS_FFI_FILEFLAGSMASK 0x0000003FL
#define VOS_NT_WINDOWS32 0x00040004L
#define VFT_APP 0x00000001L
#define VFT2_UNKNOWN 0x00000000L
