#pragma once

// Storage that belongs to the calling thread. The web page's WebAssembly module is built
// without threads (the page's worker is its one thread), and its linker refuses thread-local
// storage there, so in that build a plain static serves: there is only one thread to own it.
// Either way the storage is static: the macro also serves inside functions.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#define PACKTOOL_THREAD_LOCAL static
#else
#define PACKTOOL_THREAD_LOCAL thread_local
#endif
