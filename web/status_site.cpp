#include "status_site.h"
