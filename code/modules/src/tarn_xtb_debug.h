// xtb_debug's options, one at a time: the tool runs each option of its command line through here on the link
// it opened; the fuzz harness runs them on an operations table of its own.
#pragma once

struct XtbOps;

// option is getopt's letter, pArgument its argument (null for -l). Every console line is the tool's own.
void XtbDebug_RunOption(XtbOps *pOps, int option, const char *pArgument);
