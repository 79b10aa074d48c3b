#include "findings.h"

#include <cstdarg>
#include <cstdio>

static unsigned findings = 0;

// The word that names the severity in a finding.
static const char* severity_word(Severity severity)
{
    switch (severity) {
    case Severity::error:
        return "error";
    case Severity::warning:
        return "warning";
    case Severity::note:
        break;
    }
    return "note";
}

// A C-style variadic function on purpose: with the format attribute of its
// declaration the compiler checks each call's arguments against its format,
// which a parameter pack passed on to printf would not allow.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void report(Severity severity, const char* path, unsigned line, const char* format, ...)
{
    if (severity != Severity::note)
        ++findings;
    if (line == 0)
        printf("%s: %s: ", path, severity_word(severity));
    else
        printf("%s:%u: %s: ", path, line, severity_word(severity));
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
}

unsigned findings_reported()
{
    return findings;
}

std::string shown(const char* text)
{
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\%03o", byte);
            out += escape;
        } else {
            out += *p;
        }
    }
    return out;
}
