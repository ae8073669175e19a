// Expected console lines, spelled once for both suites: the unit tests' spellings serve here too.
#pragma once

#include "../unit/console_capture.h"
