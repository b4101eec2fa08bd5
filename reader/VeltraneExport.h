/* VELTRANE_API marks what the libraries export: the reader class, the JNA
   entry points and the plain C functions. Plain C, so that Veltrane_c.h can
   include it in any C compiler.

   On Windows the libraries export by __declspec(dllexport) alone (no .def
   file), and hosts import through __declspec(dllimport). Programs that link
   the objects statically (the project's own tests) define VELTRANE_STATIC.
   Elsewhere everything is built hidden and the API is made visible. */
#ifndef VELTRANE_VELTRANE_EXPORT_H
#define VELTRANE_VELTRANE_EXPORT_H

#if defined(_WIN32)
#  if defined(VELTRANE_BUILDING)
#    define VELTRANE_API __declspec(dllexport)
#  elif defined(VELTRANE_STATIC)
#    define VELTRANE_API
#  else
#    define VELTRANE_API __declspec(dllimport)
#  endif
#else
#  define VELTRANE_API __attribute__((visibility("default")))
#endif

#endif /* VELTRANE_VELTRANE_EXPORT_H */
