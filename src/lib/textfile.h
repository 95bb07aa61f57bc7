// Whole-file rewrites that never leave a user's file cut short.
#ifndef VENDLINK_TEXTFILE_H
#define VENDLINK_TEXTFILE_H

#include <cstddef>

// Replaces the contents of path with len bytes of text.  access is O_WRONLY
// or O_RDWR: the file must open with it (creating it if missing), exactly as
// fopen's "w" or "w+" would need.  Returns 0, or -1 with errno set; on
// failure the file keeps its old contents.
int replace_file_text(const char *path, const char *text, size_t len, int access);

#endif
