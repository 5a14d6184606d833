#include "mmtest.h"
