/* The shared library is the core archive linked whole; its exports are the
 * extern "C" functions under src/ffi/ and nothing else (see the linker
 * version script). This translation unit only gives the target a source. */
typedef int quenfold_log_shared_library_unit;
