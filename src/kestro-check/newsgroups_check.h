// The check of newsgroups, line by line.
#pragma once

// Reads newsgroups once and reports every line that dropgroup refuses.
void check_newsgroups();
