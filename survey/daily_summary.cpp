#include "daily_summary.h"
