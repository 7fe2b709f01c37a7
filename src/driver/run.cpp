// The command line and the run sequence.
#include "driver/run.h"

int RunRecoveryLayout(int /*argc*/, WCHAR** /*argv*/) {
  // The command line and the recovery run come next; until then a ready tool ends
  // with success.
  return 0;
}
