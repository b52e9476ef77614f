// The tool with its workers forced, for the differential against the tool
// as the machine runs it: the same bytes for every count.
//
//   tarvel_workers N FILE...
#include <clocale>
#include <cstdlib>

#include "driver/command_line.h"
#include "driver/run_sequence.h"
#include "platform/startup.h"
#include "runtime/fp_environment.h"
#include "runtime/helper_thread.h"
#include "runtime/signal_errors.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  tarvel::force_worker_count(std::atoi(argv[1]));
  // As the tool's own main, with the count taken off the arguments.
  argv[1] = argv[0];
  tarvel::platform::prepare_process();
  tarvel::install_signal_handlers();
  tarvel::set_floating_point_environment();
  std::setlocale(LC_CTYPE, "");
  tarvel::run(tarvel::join_input_name(argc - 1, argv + 1));
}
