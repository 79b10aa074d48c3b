// A configuration file read line by line as the programs read it, with
// the number of each line for the findings.
#pragma once

#include "line_reader.h"

struct SourceFile {
    const char* path;
    LineReader reader;
    unsigned line_number;  // of the line last read, counted from 1
    bool whole;            // read to its end, with no long line and no read error
};

// Opens the file for reading; reports it as an error when it cannot be
// opened. False then, and the file is not to be read.
bool open_source(SourceFile& file, const char* path);

// The next line, ending in its line feed, in the reader's block; nullptr
// at the end of the input, at a read error and at a long line, which are
// reported. Nothing after a long line is read: the programs stop there
// too, and the lines beyond it cannot be counted as they count them.
char* next_line(SourceFile& file);

// Closes the file. True when it was read whole.
bool close_source(SourceFile& file);
