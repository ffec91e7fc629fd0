#include <unistd.h>

#include "terminal.h"

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
