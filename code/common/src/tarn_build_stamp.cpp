#include "tarn_build_stamp.h"

const char kBuildDate[] = __DATE__;
const char kBuildTime[] = __TIME__;
