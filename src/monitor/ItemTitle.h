#pragma once
// The title of a viewed item page, for the alert texts. Runs on the
// monitoring thread; each call uses its own HTTP session.
#include <QString>

// "<NULL>": the address is not http/https, leads (itself or by a redirect) to
// an internal host on an origin (scheme, host, port) that is no configured
// endpoint's, cannot be fetched or has no usable title.
inline constexpr const char* kNoTitle = "<NULL>";

// One GET of the address (no retry), then ExtractItemTitle of the page.
QString LookupItemTitle(const QString& url);

// The cleaned text of the page's first "<title>" element (lower-case tags
// only, at most 93 characters), or "<NULL>". Pure.
QString ExtractItemTitle(const QString& page);
