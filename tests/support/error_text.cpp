#include "error_text.h"

#include <cstring>

std::string error_text(int error)
{
    return strerror(error);
}

std::string system_error(const std::string& prefix, int error)
{
    return prefix + ": " + error_text(error) + "\n";
}
