#include "iploc/IpLog.h"

Q_LOGGING_CATEGORY(lcIploc, "mirel.iploc")
