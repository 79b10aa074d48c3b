// The system's text for an error number, as the programs' reports show it.
#pragma once

#include <string>

// The system's description of the error number, as strerror gives it.
std::string error_text(int error);

// What perror writes for the prefix and the error number.
std::string system_error(const std::string& prefix, int error);
