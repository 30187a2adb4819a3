#pragma once
// A team store result's field as the value SQLite would have given for it: declared
// columns (the schema's domains) by their type, expressions by the value's own type.
#include "store/Variant.h"

struct pg_result;

CVariant ReadTeamValue(const pg_result* result, int row, int column, EVarType declared);
// True when the field's text as stored already is its GetCollect text (no conversion needed).
bool TeamTextIsValueText(const pg_result* result, int row, int column, EVarType declared);
