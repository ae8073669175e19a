#pragma once

// Date ("Dec  4 2018") and time ("14:15:39") at which this build compiled the product.
extern const char kBuildDate[];
extern const char kBuildTime[];
