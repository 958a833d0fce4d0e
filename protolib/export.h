// Symbol visibility for the message libraries.
//
// Everything is compiled with hidden visibility; only what these macros mark
// is part of a library's binary interface. On Windows the same marks become
// dllexport while a library is being built and dllimport for its users.
#ifndef PROTOLIB_EXPORT_H_
#define PROTOLIB_EXPORT_H_

#if defined(_WIN32)
#define PROTOLIB_DLL_EXPORT __declspec(dllexport)
#define PROTOLIB_DLL_IMPORT __declspec(dllimport)
#else
#define PROTOLIB_DLL_EXPORT __attribute__((visibility("default")))
#define PROTOLIB_DLL_IMPORT __attribute__((visibility("default")))
#endif

#if defined(SESSION_PROTOLIB_BUILDING)
#define SESSION_PROTOLIB_API PROTOLIB_DLL_EXPORT
#else
#define SESSION_PROTOLIB_API PROTOLIB_DLL_IMPORT
#endif

#if defined(CALIBRATION_PROTOLIB_BUILDING)
#define CALIBRATION_PROTOLIB_API PROTOLIB_DLL_EXPORT
#else
#define CALIBRATION_PROTOLIB_API PROTOLIB_DLL_IMPORT
#endif

#endif  // PROTOLIB_EXPORT_H_
