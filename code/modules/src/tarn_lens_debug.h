// lens_debug's options, one at a time: the tool runs each option of its command line through here on the link
// it opened; the fuzz harness runs them on an operations table of its own.
#pragma once

struct LensOps;

// option is getopt's letter, pArgument its argument (null for -l and -h). Every console line is the tool's own.
void LensDebug_RunOption(LensOps *pOps, int option, const char *pArgument);
