// Whole-file rewrites that keep a user's file: its owner, group and mode,
// and its old text whenever the new one cannot be written in full.
#ifndef VENDLINK_TEXTFILE_H
#define VENDLINK_TEXTFILE_H

#include <cstddef>
#include <cstdio>

enum {
    TEXTFILE_CANNOT_OPEN = -1,  // the file cannot be opened for writing (or made)
    TEXTFILE_NOT_WRITTEN = -2   // writing failed: the file is as it was (a new one is gone again)
};

// Replaces the contents of path with len bytes of text.  access is O_WRONLY
// or O_RDWR: the file must open with it (it is made when missing), as
// fopen's "w" or "w+" would need.  Returns 0, or one of the two failures
// above with errno set.
int replace_file_text(const char *path, const char *text, size_t len, int access);

// Tells `to` that path opened but could not be written (errno says why),
// so it is as it was.
void report_not_written(FILE *to, const char *path);

#endif
