#include "survey_tables.h"
