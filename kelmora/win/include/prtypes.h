/* Stands in for the portable-runtime type header that the PKCS#11 headers
 * include (pkcs11t.h), in the Windows build only. Those headers take one
 * thing from it: the calling-convention marker of function pointers, which
 * is empty for x64 code (one calling convention). */
#ifndef KELVANE_WIN_PRTYPES_H
#define KELVANE_WIN_PRTYPES_H

#define PR_CALLBACK
#define PR_CALLBACK_DECL

#endif
