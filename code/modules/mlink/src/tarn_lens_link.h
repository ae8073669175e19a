// Inside the lens module: the one link that its operations and its upgrade share.
#pragma once

#include "tarn_mlink_link.h"

MlinkLink &Lens_Link();
