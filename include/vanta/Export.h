// Export macro of the VantaWebService shared library.
//
// Everything in the library is hidden by default; only declarations marked
// VANTA_EXPORT are visible to programs that link it.
#ifndef VANTA_EXPORT_H_
#define VANTA_EXPORT_H_

#if defined(VANTA_STATIC_DEFINE)
#define VANTA_EXPORT
#elif defined(_WIN32)
#if defined(VANTA_BUILDING_LIBRARY)
#define VANTA_EXPORT __declspec(dllexport)
#else
#define VANTA_EXPORT __declspec(dllimport)
#endif
#else
#define VANTA_EXPORT __attribute__((visibility("default")))
#endif

#endif  // VANTA_EXPORT_H_
