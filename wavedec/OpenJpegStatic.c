/* Link support for OpenJPEG's static archive inside this shared library.
 *
 * The archive is compiled for executables: its codec dump routines (used by
 * opj_dump_codec) and its JP2 index writer reach the C library's `stdout` and
 * `stderr` through direct PC-relative references, which a shared object cannot
 * bind to the C library's copies. These two hidden definitions give those
 * references a target inside this library. Wavedec never dumps a codec and
 * never encodes, so nothing reads them; they stay null. */
__attribute__((visibility("hidden"))) void* stdout = 0;
__attribute__((visibility("hidden"))) void* stderr = 0;
