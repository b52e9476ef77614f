#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/startup.h"

// MinGW-w64's start-up code reads this before main: -1 asks it to replace an
// argument holding * or ? by the names of the matching files, when any
// match, as the platform's command line convention has it. Defined in the
// object file that main's prepare_process call always links in.
extern "C" {
int _dowildcard = -1;
}

namespace tarvel::platform {

void prepare_process() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace tarvel::platform
