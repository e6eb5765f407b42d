// Object-file naming.
#pragma once

inline constexpr int OBJECT_FILE_SIZE = 4096;
extern char object_file[OBJECT_FILE_SIZE];  // the last name built by ObjFile

// Compares two strings that may be NULL (NULL sorts first).
int StringCompare(const char *s1, const char *s2);
// Object-file path of name in dir (dir may be NULL); the result is object_file.
char *ObjFile(const char *dir, const char *name);
// Object name made from a source name: prog -> prog.obj, prog.src -> prog.ozz, prog.bas -> prog.obas.
void Gen_Objname(const char *source, char *out, int out_size);
// Bare program name of a path, as a new salloc string.
char *basic_obj_fname(const char *path);
