// Export macro of the VantaWebService shared library.
//
// Everything in the library is hidden by default; only declarations marked
// VANTA_EXPORT are visible to programs that link it. The library's own
// build defines VANTA_BUILDING_LIBRARY; programs that link its objects
// statically (its in-tree tests) define VANTA_STATIC_DEFINE; everyone else
// defines neither and, on Windows, imports from the DLL.
#ifndef VANTA_EXPORT_H_
#define VANTA_EXPORT_H_

#if defined(VANTA_BUILDING_LIBRARY)
#if defined(_WIN32)
#define VANTA_EXPORT __declspec(dllexport)
#else
#define VANTA_EXPORT __attribute__((visibility("default")))
#endif
#elif defined(VANTA_STATIC_DEFINE)
#define VANTA_EXPORT
#elif defined(_WIN32)
#define VANTA_EXPORT __declspec(dllimport)
#else
#define VANTA_EXPORT __attribute__((visibility("default")))
#endif

#endif  // VANTA_EXPORT_H_
