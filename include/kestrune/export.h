/* kestrune: what the library exports. A shared build hides every other name, so that the
 * library's internals cannot clash with a program's own. */
#ifndef KESTRUNE_EXPORT_H
#define KESTRUNE_EXPORT_H

#if defined(__GNUC__)
#define KESTRUNE_API __attribute__((visibility("default")))
#else
#define KESTRUNE_API
#endif

#endif
