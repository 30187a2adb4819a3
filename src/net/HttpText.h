#pragma once
// The fetch-and-decode pattern of the service calls, and the encoding of query
// values. Any thread.
#include <QString>

constexpr int kFetchAttempts = 3;
// Query values are cut to this many OEM bytes, at a whole character.
constexpr int kQueryValueBytes = 99;

// Up to three GETs of the URL in a row (a further one only after a failure,
// no pause); the reply decoded from the ANSI code page up to its first zero.
// text is emptied first; false when every attempt failed.
bool FetchText(const QString& url, QString& text);

// OEM code-page bytes of the value (at most 99, whole characters),
// percent-encoded with CURLEncode::Encode; ready to stand in a query string.
QString ToQueryValue(const QString& value);

// OEM code-page bytes of the whole value, every byte but letters, digits and
// "-_.~" percent-encoded: a password or an IM ID keeps its meaning in a query,
// and an ordinary one goes out as it is.
QString ToPlainQueryValue(const QString& value);
