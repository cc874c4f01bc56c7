#include "pipe_curves.h"
