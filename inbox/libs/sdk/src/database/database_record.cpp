#include "database/database_record.h"

// The row interface is all declarations; this unit keeps the header checked on its own.
