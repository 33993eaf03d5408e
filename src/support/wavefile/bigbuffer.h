// Sample buffers of whole files: DB_Malloc blocks that the caller frees with
// DB_Free as usual. Large ones ask the kernel for huge pages, because
// faulting in an hour of audio 4 KiB at a time costs more than reading it.
#pragma once

#include <cstddef>

void *Wavefile_bigBuffer(size_t bytes, const char *file, int line);
