#pragma once
// Log category of the IP location readers.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcIploc)
