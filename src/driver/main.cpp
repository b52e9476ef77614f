// tarvel: combines simultaneously recorded complex channels of one coherent
// signal into the channel with the best signal-to-noise ratio.
#include <clocale>

#include "driver/command_line.h"
#include "driver/run_sequence.h"
#include "platform/startup.h"
#include "runtime/fp_environment.h"
#include "runtime/signal_errors.h"

int main(int argc, char** argv) {
  tarvel::platform::prepare_process();
  tarvel::install_signal_handlers();
  tarvel::set_floating_point_environment();
  // Only the character type comes from the environment: the decimal point
  // stays "." everywhere.
  std::setlocale(LC_CTYPE, "");
  tarvel::run(tarvel::join_input_name(argc, argv));
}
