#pragma once
// Address text to its bytes, as inet_pton reads it, written out for speed:
// with the C library's general parser, parsing was most of a look-up.
#include <QString>

// 4 for dotted IPv4, 16 for IPv6 (any text with a colon), 0 for neither.
// Blanks around it, brackets and a zone ("%eth0") are allowed.
int ParseIpAddress(const QString& text, unsigned char* out);
