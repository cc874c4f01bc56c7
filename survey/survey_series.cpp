#include "survey_series.h"
