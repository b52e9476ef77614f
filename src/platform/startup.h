// What the process needs from the system before the run begins.
#pragma once

namespace tarvel::platform {

// Readies the standard streams: on Windows the C runtime's standard input,
// output and error go to binary mode, so that nothing written through them
// gains a CR before its LF (the tool's own writes bypass the C runtime
// anyway). Nothing to do on POSIX. Call once, first thing in main. The
// executable's start-up code also expands wildcards in the arguments on
// Windows, as a POSIX shell does before the process starts.
void prepare_process();

}  // namespace tarvel::platform
