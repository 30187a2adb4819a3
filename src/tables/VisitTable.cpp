#include "tables/VisitTable.h"
