#include "survey_setup.h"
