#include "survey_units.h"
