// The unit tests' console spellings, compiled into this suite as well, so the line formats are spelled once.
#include "../unit/console_capture.cpp"
