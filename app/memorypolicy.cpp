#include "app/memorypolicy.h"

// Brings in the C library's own identification first.
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace MemoryPolicy {

void returnLargeBlocks()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void returnFreedPages()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}
