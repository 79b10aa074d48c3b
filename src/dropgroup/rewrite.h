// Rewriting active or newsgroups without one group.
#pragma once

enum class FileKind { active, newsgroups };

// A file, its replacement file (also its lock) and how its lines are read.
struct FilePair {
    FileKind kind;
    const char* path;
    const char* replacement_path;
};

// Rewrites the pair's file without the lines of group and renames the
// result into place. On failure everything has been reported, the
// replacement file removed, and the file left as it was (unless only the
// final sync of its directory failed).
bool rewrite_without_group(const FilePair& pair, const char* group);
