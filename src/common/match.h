// Group patterns: "*" any run of bytes, "?" one byte, "[set]" one byte of the
// set ("^" first negates, "x-y" a range), every other byte itself. A pattern
// must match the whole name; bytes compare as unsigned values, with no case
// folding and no escape character.
#pragma once

// True when the pattern matches the whole group name.
bool match_group_name(const char* pattern, const char* name);

// True when the pattern matches the group part of an article path: the
// bytes before last_slash, the path's last "/" (nullptr when it has none,
// and then nothing matches). Here a "." of the pattern outside a set
// matches a "/".
bool match_group_path(const char* pattern, const char* path, const char* last_slash);
