// The stick program's first and last lines. The runner, the end-to-end tests and the boot-time
// benchmark wait for these words, and read them from this file (tools/quillon_run/stick_words.py):
// each stays one plain literal on one line of its own.
#pragma once

// Printed with QUILLON_STICK_VERSION (stick/Stick.h) for its %a.
#define QUILLON_STICK_FIRST_LINE u"Quillon %a: the boot logo out of this machine's firmware.\n"
// The last line, as the key it asks for is the next thing read.
#define QUILLON_STICK_LAST_LINE u"Next: take the stick out, then press any key to restart the machine.\n"
