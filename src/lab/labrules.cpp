#include "lab/labrules.h"
