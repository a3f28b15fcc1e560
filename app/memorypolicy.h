#pragma once

// How the allocator hands back what a program of millions of lines took. A stopped job has to leave
// the window about as small as it was before the file was loaded.
namespace MemoryPolicy {

// Blocks of 256 KiB and more come straight from the system and go back to it when freed. glibc
// otherwise raises that bound to the largest block freed so far, after which a program's big tables
// land inside the heap and stay there as fragments once the program is gone.
void returnLargeBlocks();

// Gives whole pages freed inside the heap back to the system.
void returnFreedPages();

}
