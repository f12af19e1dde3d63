#pragma once

#include "flashini_alloc.h"

extern long failing_alloc_countdown;
extern long failing_alloc_live;
